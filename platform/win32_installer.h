// The Win32 binding of Installer. msi.dll is loaded from the system folder only, never from the
// folder the executable was started from (LoadSystemLibrary), at the first operation, and its entry
// points are resolved once. When the library or an entry point cannot be had, each operation fails
// with the load's error code; the context-taking calls, which older versions lack, fail alone with
// ERROR_PROC_NOT_FOUND.
#pragma once

#include <windows.h>

#include <msi.h>
#include <msiquery.h>

#include "platform/installer.h"
#include "platform/system.h"

namespace updater {

class Win32Installer final : public Installer {
 public:
  // system serves the loading of msi.dll (LoadSystemLibrary).
  explicit Win32Installer(System& system);
  ~Win32Installer() override;
  Win32Installer(const Win32Installer&) = delete;
  Win32Installer& operator=(const Win32Installer&) = delete;

  uint32_t GetSummaryInformation(const std::wstring& packagePath, MsiHandle& handle) override;
  uint32_t SummaryInfoGetProperty(MsiHandle handle, uint32_t propertyId, uint16_t& dataType,
                                  wchar_t* buffer, uint32_t& length) override;
  uint32_t CloseHandle(MsiHandle handle) override;
  int32_t QueryProductState(const std::wstring& productCode) override;
  uint32_t GetProductInfo(const std::wstring& productCode, const std::wstring& property,
                          wchar_t* buffer, uint32_t& length) override;
  uint32_t EnumProductsEx(const std::wstring& userSid, uint32_t contexts, uint32_t index,
                          std::wstring& productCode, uint32_t& context, std::wstring& sid) override;
  uint32_t GetProductInfoEx(const std::wstring& productCode, const std::wstring& userSid,
                            uint32_t context, const std::wstring& property, wchar_t* buffer,
                            uint32_t& length) override;
  uint32_t EnableLog(uint32_t logMode, const std::wstring& logFile, uint32_t attributes) override;
  int32_t SetInternalUI(int32_t level) override;
  uint32_t ConfigureProductEx(const std::wstring& productCode, int32_t installLevel,
                              int32_t installState, const std::wstring& commandLine) override;

 private:
  uint32_t Load();

  System& system_;
  bool loaded_ = false;
  HMODULE library_ = nullptr;
  uint32_t loadError_ = ERROR_SUCCESS;
  decltype(&::MsiGetSummaryInformationW) getSummaryInformation_ = nullptr;
  decltype(&::MsiSummaryInfoGetPropertyW) summaryInfoGetProperty_ = nullptr;
  decltype(&::MsiCloseHandle) closeHandle_ = nullptr;
  decltype(&::MsiQueryProductStateW) queryProductState_ = nullptr;
  decltype(&::MsiGetProductInfoW) getProductInfo_ = nullptr;
  decltype(&::MsiEnumProductsExW) enumProductsEx_ = nullptr;
  decltype(&::MsiGetProductInfoExW) getProductInfoEx_ = nullptr;
  decltype(&::MsiEnableLogW) enableLog_ = nullptr;
  decltype(&::MsiSetInternalUI) setInternalUI_ = nullptr;
  decltype(&::MsiConfigureProductExW) configureProductEx_ = nullptr;
};

}  // namespace updater
