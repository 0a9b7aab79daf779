// The desktop services that the page's script asks for: the trace hook, the
// settings store, message boxes, the program folder and the shell's "open".

#include <glib.h>
#include <gtk/gtk.h>

#include <cmath>
#include <limits>

#include "JavaScriptInterface.h"
#include "ScriptArguments.h"
#include "framework/Conversion.h"
#include "platform/Application.h"
#include "platform/MessageBox.h"
#include "platform/ProgramFile.h"
#include "platform/Shell.h"

using platform::ScriptValue;
using Kind = ScriptValue::Kind;

namespace {

// A script number or text as text: integers "%d", fractions "%f", in the C
// locale whatever the desktop's language is.
bool ValueText(const ScriptValue& value, String& text) {
    switch (value.kind) {
        case Kind::Int32:
            text = FormatLong(value.intValue);
            return true;
        case Kind::Double:
            text = FormatDouble(value.doubleValue);
            return true;
        case Kind::Text:
            text = value.text.c_str();
            return true;
        default:
            return false;
    }
}

int32_t ClampToInt32(double value) {
    if (std::isnan(value)) return 0;
    if (value >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (value <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);  // toward zero
}

// A script number or text as a settings integer: fractions toward zero, text
// by its leading decimal number (0 without one). Values beyond 32 bits stop at
// the nearest bound.
bool ProfileInteger(const ScriptValue& value, int32_t& number) {
    switch (value.kind) {
        case Kind::Int32:
            number = value.intValue;
            return true;
        case Kind::Double:
            number = ClampToInt32(value.doubleValue);
            return true;
        case Kind::Text:
            number = ParseLong(value.text.c_str());
            return true;
        default:
            return false;
    }
}

// The parts of a message box style that the page may choose: icon, buttons,
// default button and help button, each only with a value the box knows.
// Modality, foreground, top-most and the like are the program's business.
unsigned PageBoxStyle(int32_t style) {
    unsigned bits = static_cast<unsigned>(style);
    unsigned kept = 0;
    unsigned icon = bits & 0xF0;
    if (icon >= 0x10 && icon <= 0x40) kept |= icon;
    unsigned buttons = bits & 0x0F;
    if (buttons >= 1 && buttons <= 6) kept |= buttons;
    unsigned defaultButton = bits & 0xF00;
    if (defaultButton >= 0x100 && defaultButton <= 0x300) kept |= defaultButton;
    if ((bits & 0xF000) == platform::MB_HELP) kept |= platform::MB_HELP;
    return kept;
}

int32_t BoxAnswer(int answer) {
    switch (answer) {
        case platform::IDOK:
        case platform::IDCANCEL:
        case platform::IDABORT:
        case platform::IDRETRY:
        case platform::IDIGNORE:
        case platform::IDYES:
        case platform::IDNO:
        case platform::IDTRYAGAIN:
        case platform::IDCONTINUE:
            return answer;
        default:
            return 0;
    }
}

// The log domain of trace lines: the program's name, so that
// G_MESSAGES_DEBUG=<program> shows them.
const std::string& TraceDomain() {
    static const std::string domain = String(platform::ProgramFile::ExeName().c_str()).ToUtf8();
    return domain;
}

}  // namespace

void JavaScriptInterface::korvoTrace(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptInterface::korvoTrace");
    ScriptValue value;
    if (!arguments.Value(value)) return;
    String text;
    if (!ValueText(value, text)) {
        Refuse(L"Invalid value in function korvoTrace()!", platform::MB_ICONERROR, result);
        return;
    }
    if (value.kind == Kind::Text) text = text.Replace(L"%20", L" ");
    String line = String(L"*** SCRIPT TRACE *** ") + text + L"\n";
    g_log(TraceDomain().c_str(), G_LOG_LEVEL_DEBUG, "%s", line.ToUtf8().c_str());
    result = ScriptValue::Bool(true);
}

void JavaScriptInterface::korvoSetProfileString(const ScriptValue& argument, ScriptValue& result) {
    SetProfileValue(argument, result, L"JavaScriptInterface::korvoSetProfileString", false);
}

void JavaScriptInterface::korvoSetProfileInt(const ScriptValue& argument, ScriptValue& result) {
    SetProfileValue(argument, result, L"JavaScriptInterface::korvoSetProfileInt", true);
}

// Reads (section, key, value); a value of no kind the store can take is
// refused with a box naming the key.
void JavaScriptInterface::SetProfileValue(const ScriptValue& argument, ScriptValue& result,
                                          const wchar_t* functionName, bool asInteger) {
    ScriptArguments arguments(*this, argument, functionName);
    String section, key;
    ScriptValue value;
    arguments.Text(section) && arguments.Text(key) && arguments.Value(value);
    if (arguments.Failed()) return;
    String text;
    int32_t number = 0;
    if (asInteger ? !ProfileInteger(value, number) : !ValueText(value, text)) {
        Refuse(String(L"Invalid profile value: ") + key, platform::MB_ICONERROR, result);
        return;
    }
    platform::Settings& profile = platform::Application::Instance().Profile();
    if (asInteger)
        profile.WriteInt(section.Text(), key.Text(), number);
    else
        profile.WriteText(section.Text(), key.Text(), text.Text());
    result = ScriptValue::Bool(true);
}

void JavaScriptInterface::korvoGetProfileString(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptInterface::korvoGetProfileString");
    String section, key, fallback;
    arguments.Text(section) && arguments.Text(key) && arguments.OptionalText(fallback, L"");
    if (arguments.Failed()) return;
    result = ScriptValue::Text(platform::Application::Instance().Profile().GetText(
        section.Text(), key.Text(), fallback.Text()));
}

void JavaScriptInterface::korvoGetProfileInt(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptInterface::korvoGetProfileInt");
    String section, key;
    int32_t fallback = 0;
    arguments.Text(section) && arguments.Text(key) && arguments.OptionalInteger(fallback, 0);
    if (arguments.Failed()) return;
    result = ScriptValue::Int32(
        platform::Application::Instance().Profile().GetInt(section.Text(), key.Text(), fallback));
}

void JavaScriptInterface::korvoMessageBox(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptInterface::korvoMessageBox");
    String message;
    int32_t style = 0;
    arguments.Text(message) && arguments.OptionalInteger(style, 0);
    if (arguments.Failed()) return;
    String caption;
    if (GtkWidget* window = Toplevel())
        if (const gchar* title = gtk_window_get_title(GTK_WINDOW(window)))
            caption = String::FromUtf8(title);
    int answer = platform::MessageBox(this, message.Text(), caption.Text(), PageBoxStyle(style));
    result = ScriptValue::Int32(BoxAnswer(answer));
}

void JavaScriptInterface::korvoGetExeDir(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptInterface::korvoGetExeDir");
    int32_t ignored = 0;
    if (!arguments.OptionalInteger(ignored, 0)) return;
    result = ScriptValue::Text(exeDirectory.Text());
}

void JavaScriptInterface::korvoShellExecute(const ScriptValue& argument, ScriptValue& result) {
    ScriptArguments arguments(*this, argument, L"JavaScriptInterface::korvoShellExecute");
    String file;
    int32_t show = 5;  // SW_SHOW
    arguments.Text(file) && arguments.OptionalInteger(show, 5);
    if (arguments.Failed()) return;
    result = ScriptValue::Int32(platform::ShellOpen(file.Text(), show));
}
