<?xml version="1.0" encoding="UTF-8"?>
<korvo_module name="JavaScriptWindow" class="b7667c3c-3de8-42e5-83d2-46c1de658459" version="1.0" type="window" path="libApplication.so"/>
