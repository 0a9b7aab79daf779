<?xml version="1.0" encoding="UTF-8"?>
<korvo_module name="TannevaleMidi" class="4ce0945b-728d-43a9-9ebe-ed422c5659b1" version="1.0" type="device" path="libTannevaleMidi.so"/>
