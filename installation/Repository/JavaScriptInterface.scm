<?xml version="1.0" encoding="UTF-8"?>
<korvo_module name="JavaScriptInterface" class="eef48007-2765-4ab3-a297-50c18805c2f2" version="1.0" type="script" path="libApplication.so"/>
