#include "VersionInfo.h"

#include "framework/Utf8.h"

#ifndef KORVO_COMPANY_NAME
#define KORVO_COMPANY_NAME "Yonderpad"
#endif

namespace platform {

namespace {
std::wstring& Company() {
    static std::wstring company = DecodeUtf8(KORVO_COMPANY_NAME, BadUtf8::Latin1);
    return company;
}
}  // namespace

std::wstring VersionInfo::CompanyName() { return Company(); }

void VersionInfo::SetCompanyName(const std::wstring& name) { Company() = name; }

}  // namespace platform
