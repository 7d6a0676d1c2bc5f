// The Windows Installer operations the updater uses, and nothing more. The Win32 binding forwards
// each to msi.dll; unit tests substitute a scripted fake. Texts are wide strings; buffers and
// lengths follow the msi.dll contracts so that the callers own every buffer decision.
#pragma once

#include <cstdint>
#include <string>

namespace updater {

using MsiHandle = uint32_t;

inline constexpr uint32_t kPidKeywords = 5;  // upgrade version ";" target versions
inline constexpr uint32_t kPidTemplate = 7;  // target product codes, ";" between them

inline constexpr uint16_t kVtEmpty = 0;
inline constexpr uint16_t kVtLpstr = 30;

inline constexpr int32_t kInstallStateAdvertised = 1;
inline constexpr int32_t kInstallStateDefault = 5;
inline constexpr int32_t kInstallLevelDefault = 0;
inline constexpr uint32_t kInstallLogModeVerbose = 0x1000;
inline constexpr int32_t kInstallUiLevelBasicHideCancel = 0x23;

// Installation contexts (MSIINSTALLCONTEXT), as flags.
inline constexpr uint32_t kInstallContextUserManaged = 1;
inline constexpr uint32_t kInstallContextUserUnmanaged = 2;
inline constexpr uint32_t kInstallContextMachine = 4;
inline constexpr uint32_t kInstallContextAll = 7;
// The user SID that names every user in the enumeration.
inline constexpr wchar_t kEveryUserSid[] = L"S-1-1-0";
inline constexpr uint32_t kErrorNoMoreItems = 259;

inline constexpr uint32_t kErrorSuccessRebootInitiated = 1641;
inline constexpr uint32_t kErrorSuccessRebootRequired = 3010;

class Installer {
 public:
  virtual ~Installer() = default;

  // MsiGetSummaryInformationW(0, packagePath, 0, &handle).
  virtual uint32_t GetSummaryInformation(const std::wstring& packagePath, MsiHandle& handle) = 0;

  // MsiSummaryInfoGetPropertyW. length is in characters: in, the buffer's capacity with the
  // terminator; out, the text's length without it (the size needed after kErrorMoreData).
  virtual uint32_t SummaryInfoGetProperty(MsiHandle handle, uint32_t propertyId, uint16_t& dataType,
                                          wchar_t* buffer, uint32_t& length) = 0;

  virtual uint32_t CloseHandle(MsiHandle handle) = 0;

  // MsiQueryProductStateW.
  virtual int32_t QueryProductState(const std::wstring& productCode) = 0;

  // MsiGetProductInfoW; length as for SummaryInfoGetProperty.
  virtual uint32_t GetProductInfo(const std::wstring& productCode, const std::wstring& property,
                                  wchar_t* buffer, uint32_t& length) = 0;

  // MsiEnumProductsExW for every product (no product code), in contexts, of the users userSid
  // names (kEveryUserSid: all): the index-th registration's product code, context and user SID
  // (empty for the machine context). kErrorNoMoreItems after the last one.
  virtual uint32_t EnumProductsEx(const std::wstring& userSid, uint32_t contexts, uint32_t index,
                                  std::wstring& productCode, uint32_t& context,
                                  std::wstring& sid) = 0;

  // MsiGetProductInfoExW of the registration in this context (userSid empty for the machine
  // context); length as for SummaryInfoGetProperty.
  virtual uint32_t GetProductInfoEx(const std::wstring& productCode, const std::wstring& userSid,
                                    uint32_t context, const std::wstring& property, wchar_t* buffer,
                                    uint32_t& length) = 0;

  // MsiEnableLogW.
  virtual uint32_t EnableLog(uint32_t logMode, const std::wstring& logFile,
                             uint32_t attributes) = 0;

  // MsiSetInternalUI with no window; gives the previous level.
  virtual int32_t SetInternalUI(int32_t level) = 0;

  // MsiConfigureProductExW.
  virtual uint32_t ConfigureProductEx(const std::wstring& productCode, int32_t installLevel,
                                      int32_t installState, const std::wstring& commandLine) = 0;
};

}  // namespace updater
