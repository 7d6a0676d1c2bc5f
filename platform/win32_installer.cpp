#include "platform/win32_installer.h"

#include "platform/system_library.h"

namespace updater {
namespace {

template <typename Function>
void Resolve(HMODULE library, const char* name, Function& function, uint32_t& error) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
  if (function == nullptr && error == ERROR_SUCCESS) error = ERROR_PROC_NOT_FOUND;
}

}  // namespace

Win32Installer::Win32Installer(System& system) : system_(system) {}

uint32_t Win32Installer::Load() {
  if (loaded_) return loadError_;
  loaded_ = true;
  const Outcome<void*> library = LoadSystemLibrary(system_, L"msi.dll");
  if (!library) {
    loadError_ = library.error();
    if (loadError_ == ERROR_SUCCESS) loadError_ = ERROR_MOD_NOT_FOUND;
    return loadError_;
  }
  library_ = static_cast<HMODULE>(*library);
  Resolve(library_, "MsiGetSummaryInformationW", getSummaryInformation_, loadError_);
  Resolve(library_, "MsiSummaryInfoGetPropertyW", summaryInfoGetProperty_, loadError_);
  Resolve(library_, "MsiCloseHandle", closeHandle_, loadError_);
  Resolve(library_, "MsiQueryProductStateW", queryProductState_, loadError_);
  Resolve(library_, "MsiGetProductInfoW", getProductInfo_, loadError_);
  Resolve(library_, "MsiEnableLogW", enableLog_, loadError_);
  uint32_t optional = ERROR_SUCCESS;
  Resolve(library_, "MsiEnumProductsExW", enumProductsEx_, optional);
  Resolve(library_, "MsiGetProductInfoExW", getProductInfoEx_, optional);
  Resolve(library_, "MsiSetInternalUI", setInternalUI_, loadError_);
  Resolve(library_, "MsiConfigureProductExW", configureProductEx_, loadError_);
  return loadError_;
}

Win32Installer::~Win32Installer() {
  if (library_ != nullptr) ::FreeLibrary(library_);
}

uint32_t Win32Installer::GetSummaryInformation(const std::wstring& packagePath, MsiHandle& handle) {
  if (Load() != ERROR_SUCCESS) return loadError_;
  MSIHANDLE summary = 0;
  const UINT result = getSummaryInformation_(0, packagePath.c_str(), 0, &summary);
  handle = static_cast<MsiHandle>(summary);
  return result;
}

uint32_t Win32Installer::SummaryInfoGetProperty(MsiHandle handle, uint32_t propertyId,
                                                uint16_t& dataType, wchar_t* buffer,
                                                uint32_t& length) {
  if (Load() != ERROR_SUCCESS) return loadError_;
  UINT type = 0;
  INT integer = 0;
  FILETIME time{};
  DWORD size = length;
  const UINT result =
      summaryInfoGetProperty_(handle, propertyId, &type, &integer, &time, buffer, &size);
  dataType = static_cast<uint16_t>(type);
  length = size;
  return result;
}

uint32_t Win32Installer::CloseHandle(MsiHandle handle) {
  if (Load() != ERROR_SUCCESS) return loadError_;
  return closeHandle_(handle);
}

int32_t Win32Installer::QueryProductState(const std::wstring& productCode) {
  if (Load() != ERROR_SUCCESS) return INSTALLSTATE_UNKNOWN;
  return queryProductState_(productCode.c_str());
}

uint32_t Win32Installer::GetProductInfo(const std::wstring& productCode,
                                        const std::wstring& property, wchar_t* buffer,
                                        uint32_t& length) {
  if (Load() != ERROR_SUCCESS) return loadError_;
  DWORD size = length;
  const UINT result = getProductInfo_(productCode.c_str(), property.c_str(), buffer, &size);
  length = size;
  return result;
}

uint32_t Win32Installer::EnumProductsEx(const std::wstring& userSid, uint32_t contexts,
                                        uint32_t index, std::wstring& productCode,
                                        uint32_t& context, std::wstring& sid) {
  if (Load() != ERROR_SUCCESS) return loadError_;
  if (enumProductsEx_ == nullptr) return ERROR_PROC_NOT_FOUND;
  wchar_t code[39] = {};
  MSIINSTALLCONTEXT found = MSIINSTALLCONTEXT_NONE;
  // A SID in text has at most 184 characters.
  wchar_t user[256] = {};
  DWORD length = 256;
  const UINT result =
      enumProductsEx_(nullptr, userSid.c_str(), contexts, index, code, &found, user, &length);
  if (result != ERROR_SUCCESS) return result;
  productCode = code;
  context = static_cast<uint32_t>(found);
  sid = user;
  return result;
}

uint32_t Win32Installer::GetProductInfoEx(const std::wstring& productCode,
                                          const std::wstring& userSid, uint32_t context,
                                          const std::wstring& property, wchar_t* buffer,
                                          uint32_t& length) {
  if (Load() != ERROR_SUCCESS) return loadError_;
  if (getProductInfoEx_ == nullptr) return ERROR_PROC_NOT_FOUND;
  DWORD size = length;
  const UINT result =
      getProductInfoEx_(productCode.c_str(), userSid.empty() ? nullptr : userSid.c_str(),
                        static_cast<MSIINSTALLCONTEXT>(context), property.c_str(), buffer, &size);
  length = size;
  return result;
}

uint32_t Win32Installer::EnableLog(uint32_t logMode, const std::wstring& logFile,
                                   uint32_t attributes) {
  if (Load() != ERROR_SUCCESS) return loadError_;
  return enableLog_(logMode, logFile.c_str(), attributes);
}

int32_t Win32Installer::SetInternalUI(int32_t level) {
  if (Load() != ERROR_SUCCESS) return INSTALLUILEVEL_NOCHANGE;
  return setInternalUI_(static_cast<INSTALLUILEVEL>(level), nullptr);
}

uint32_t Win32Installer::ConfigureProductEx(const std::wstring& productCode, int32_t installLevel,
                                            int32_t installState, const std::wstring& commandLine) {
  if (Load() != ERROR_SUCCESS) return loadError_;
  return configureProductEx_(productCode.c_str(), installLevel,
                             static_cast<INSTALLSTATE>(installState), commandLine.c_str());
}

}  // namespace updater
