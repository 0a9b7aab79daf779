#include "VersionInfo.h"

#include "Utf8.h"

#ifndef KORVO_COMPANY_NAME
#define KORVO_COMPANY_NAME "Yonderpad"
#endif

namespace platform {

namespace {
std::wstring& Company() {
    static std::wstring company = FromUtf8(KORVO_COMPANY_NAME);
    return company;
}
}  // namespace

std::wstring VersionInfo::CompanyName() { return Company(); }

void VersionInfo::SetCompanyName(const std::wstring& name) { Company() = name; }

}  // namespace platform
