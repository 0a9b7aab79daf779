#include "ProjectTrust.h"

#include <glib.h>

#include <cstdlib>

#include "framework/Connector.h"
#include "framework/Module.h"
#include "framework/Utf8.h"
#include "platform/Application.h"
#include "platform/MessageBox.h"
#include "platform/PageTrust.h"

namespace projecttrust {

namespace {

// The folder with its links resolved, ending in "/"; empty when it is not there.
std::string RealFolder(const std::string& folder) {
    char* real = realpath(folder.c_str(), nullptr);
    if (real == nullptr) return {};
    std::string result = real;
    free(real);
    if (result.back() != '/') result += '/';
    return result;
}

bool Inside(const std::string& folder, const std::string& outer) {
    return !outer.empty() && folder.compare(0, outer.size(), outer) == 0;
}

// True when a module keeps the address of a page that lies in projectFolder
// and is not trusted already.
bool PageInFolder(const Array<KorvoModule*>& modules, const std::wstring& programFolder,
                  const std::string& projectFolder) {
    const std::wstring& base = platform::Application::Instance().ProjectFolder();
    for (KorvoModule* module : modules) {
        KorvoConnector* script = module ? module->FindConnector(L"Script") : nullptr;
        String address = script ? script->GetText() : String();
        if (address.IsEmpty()) continue;
        std::string folder =
            platform::DocumentFolder(platform::PageAddress(address.Text(), programFolder, base));
        if (!folder.empty() && Inside(folder, projectFolder) &&
            !platform::IsTrustedPageFolder(folder))
            return true;
    }
    return false;
}

}  // namespace

std::string ContentDigest(const std::string& file) {
    g_autofree gchar* content = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(file.c_str(), &content, &length, nullptr)) return {};
    g_autofree gchar* digest = g_compute_checksum_for_data(
        G_CHECKSUM_SHA256, reinterpret_cast<const guchar*>(content), length);
    return digest ? digest : "";
}

bool Decide(const std::string& projectFile, const std::wstring& programFolder,
            const Array<KorvoModule*>& modules, bool trustedAhead, const std::wstring& caption) {
    g_autofree gchar* parent = g_path_get_dirname(projectFile.c_str());
    std::string folder = RealFolder(parent);
    if (folder.empty()) return true;  // nothing of it can be shown
    // A project of the installation's own: its folder is trusted already.
    if (Inside(folder, RealFolder(EncodeUtf8(programFolder)))) return true;
    if (!PageInFolder(modules, programFolder, folder)) return true;
    if (trustedAhead) {
        g_message("The project %s is trusted from the command line.", projectFile.c_str());
        platform::TrustPageFolder(folder);
        return true;
    }
    platform::Settings& settings = platform::Application::Instance().Profile();
    std::wstring entry = DecodeUtf8(projectFile, BadUtf8::Latin1);
    std::string digest = ContentDigest(projectFile);
    std::wstring wideDigest = DecodeUtf8(digest, BadUtf8::Latin1);
    if (!digest.empty() && settings.GetText(SettingsSection, entry, L"") == wideDigest) {
        platform::TrustPageFolder(folder);
        return true;
    }
    std::wstring text =
        L"The project " + entry + L" comes from outside the program's folder. Its page in\n" +
        DecodeUtf8(folder, BadUtf8::Latin1) +
        L"\nmay read and write your files, change the program's settings, and open documents "
        L"and web addresses.\n\nOpen it only if you trust where it came from.";
    int answer = platform::MessageBox(
        nullptr, text, caption,
        platform::MB_OKCANCEL | platform::MB_ICONWARNING | platform::MB_DEFBUTTON2, L"_Open");
    if (answer != platform::IDOK) {
        g_message("The project %s was not opened: its page was not trusted.", projectFile.c_str());
        return false;
    }
    if (!digest.empty()) settings.WriteText(SettingsSection, entry, wideDigest);
    platform::TrustPageFolder(folder);
    return true;
}

}  // namespace projecttrust
