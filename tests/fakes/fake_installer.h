// A scripted Installer for unit tests: packages with summary properties, products with states
// and properties, and a record of every call.
#pragma once

#include <functional>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/installer.h"
#include "platform/system.h"

namespace updater::testing {

class FakeInstaller : public Installer {
 public:
  struct Property {
    std::wstring text;
    uint16_t type = kVtLpstr;
  };
  struct Package {
    std::map<uint32_t, Property> properties;
  };
  struct Product {
    int32_t state = kInstallStateDefault;
    std::map<std::wstring, std::wstring> info;  // a property missing here is not delivered
  };
  struct Configuration {
    std::wstring productCode;
    int32_t installLevel;
    int32_t installState;
    std::wstring commandLine;
    int32_t uiLevel;       // the level in force during the call
    std::wstring logFile;  // the log in force during the call
    uint32_t logMode;
  };

  // --- set-up ---------------------------------------------------------------------------------
  void AddPackage(const std::wstring& fullPath, std::optional<std::wstring> codes,
                  std::optional<std::wstring> versions) {
    Package package;
    if (codes) package.properties[kPidTemplate] = {*codes};
    if (versions) package.properties[kPidKeywords] = {*versions};
    packages_[fullPath] = package;
  }
  Package& package(const std::wstring& fullPath) { return packages_[fullPath]; }

  // Packages known by their bytes, for files the code under test writes itself; readFile gives
  // the bytes of a file at a full path.
  void AddPackageContent(const std::string& content, std::optional<std::wstring> codes,
                         std::optional<std::wstring> versions) {
    Package package;
    if (codes) package.properties[kPidTemplate] = {*codes};
    if (versions) package.properties[kPidKeywords] = {*versions};
    packagesByContent_[content] = package;
  }
  std::function<std::optional<std::string>(const std::wstring&)> readFile;

  // A product as MsiQueryProductStateW and MsiGetProductInfoW see it; an installed or advertised
  // one is registered machine-wide too, with the same properties.
  void AddProduct(const std::wstring& code, const std::wstring& name, const std::wstring& language,
                  const std::wstring& version, int32_t state = kInstallStateDefault) {
    products_[code] = Product{
        state, {{L"ProductName", name}, {L"Language", language}, {L"VersionString", version}}};
    if (state == kInstallStateDefault || state == kInstallStateAdvertised) {
      AddRegistration(code, kInstallContextMachine, L"", name, language, version);
    }
  }
  // One registration as MsiEnumProductsExW lists it and MsiGetProductInfoExW reads it.
  void AddRegistration(const std::wstring& code, uint32_t context, const std::wstring& sid,
                       const std::wstring& name, const std::wstring& language,
                       const std::wstring& version) {
    registrations_.push_back(
        {code,
         context,
         sid,
         {{L"ProductName", name}, {L"Language", language}, {L"VersionString", version}}});
  }
  void ClearRegistrations() { registrations_.clear(); }
  // When set, the enumeration fails with it at this index.
  std::optional<std::pair<uint32_t, uint32_t>> enumFailure;
  Product& product(const std::wstring& code) { return products_[code]; }

  void SetConfigureResult(const std::wstring& code, uint32_t result) {
    configureResults_[code] = result;
  }
  // Scripted results of the property reads, in order, before the real ones; 0 answers normally.
  std::vector<uint32_t> scriptedPropertyResults;
  bool throwOnPropertyRead = false;
  // When set, a package opened through GetSummaryInformation gives this error instead.
  std::optional<uint32_t> summaryOpenError;

  // --- inspection -----------------------------------------------------------------------------
  const std::vector<std::wstring>& calls() const { return calls_; }
  const std::vector<Configuration>& configurations() const { return configurations_; }
  const std::vector<std::wstring>& openedPackages() const { return openedPackages_; }
  int openHandles() const { return static_cast<int>(open_.size()); }
  int doubleCloses() const { return doubleCloses_; }
  int32_t uiLevel() const { return uiLevel_; }
  size_t queriedStates() const { return queriedStates_; }

  // --- Installer ------------------------------------------------------------------------------
  uint32_t GetSummaryInformation(const std::wstring& packagePath, MsiHandle& handle) override {
    calls_.push_back(L"GetSummaryInformation");
    openedPackages_.push_back(packagePath);
    if (summaryOpenError) return *summaryOpenError;
    if (readFile && packages_.count(packagePath) == 0) {
      const std::optional<std::string> content = readFile(packagePath);
      if (content && packagesByContent_.count(*content)) {
        packages_[packagePath] = packagesByContent_[*content];
      }
    }
    auto it = packages_.find(packagePath);
    if (it == packages_.end()) return 1627;  // ERROR_FUNCTION_FAILED
    handle = nextHandle_++;
    open_[handle] = packagePath;
    return 0;
  }

  uint32_t SummaryInfoGetProperty(MsiHandle handle, uint32_t propertyId, uint16_t& dataType,
                                  wchar_t* buffer, uint32_t& length) override {
    calls_.push_back(L"SummaryInfoGetProperty");
    if (throwOnPropertyRead) throw std::bad_alloc();
    auto it = open_.find(handle);
    if (it == open_.end()) return 6;  // ERROR_INVALID_HANDLE
    if (!scriptedPropertyResults.empty()) {
      const uint32_t result = scriptedPropertyResults.front();
      scriptedPropertyResults.erase(scriptedPropertyResults.begin());
      if (result == kErrorMoreData) length = 4000;
      if (result != 0) return result;
    }
    const Package& package = packages_.at(it->second);
    auto property = package.properties.find(propertyId);
    if (property == package.properties.end()) {
      dataType = kVtEmpty;
      return 0;
    }
    dataType = property->second.type;
    if (dataType != kVtLpstr) return 0;
    return CopyOut(property->second.text, buffer, length);
  }

  uint32_t CloseHandle(MsiHandle handle) override {
    calls_.push_back(L"CloseHandle");
    if (open_.erase(handle) == 0) ++doubleCloses_;
    return 0;
  }

  int32_t QueryProductState(const std::wstring& productCode) override {
    calls_.push_back(L"QueryProductState " + productCode);
    ++queriedStates_;
    auto it = products_.find(productCode);
    return it == products_.end() ? -1 : it->second.state;
  }

  uint32_t GetProductInfo(const std::wstring& productCode, const std::wstring& property,
                          wchar_t* buffer, uint32_t& length) override {
    calls_.push_back(L"GetProductInfo " + property);
    auto product = products_.find(productCode);
    if (product == products_.end()) return 1605;  // ERROR_UNKNOWN_PRODUCT
    auto value = product->second.info.find(property);
    if (value == product->second.info.end()) return 1608;  // ERROR_UNKNOWN_PROPERTY
    return CopyOut(value->second, buffer, length);
  }

  uint32_t EnumProductsEx(const std::wstring& userSid, uint32_t contexts, uint32_t index,
                          std::wstring& productCode, uint32_t& context,
                          std::wstring& sid) override {
    calls_.push_back(L"EnumProductsEx " + userSid + L" " + std::to_wstring(contexts) + L" " +
                     std::to_wstring(index));
    if (enumFailure && enumFailure->first == index) return enumFailure->second;
    if (index >= registrations_.size()) return kErrorNoMoreItems;
    productCode = registrations_[index].code;
    context = registrations_[index].context;
    sid = registrations_[index].sid;
    return 0;
  }

  uint32_t GetProductInfoEx(const std::wstring& productCode, const std::wstring& userSid,
                            uint32_t context, const std::wstring& property, wchar_t* buffer,
                            uint32_t& length) override {
    calls_.push_back(L"GetProductInfoEx " + std::to_wstring(context) + L" " + property);
    for (const Registration& r : registrations_) {
      if (r.code != productCode || r.context != context) continue;
      // The machine context takes no user; a per-user one is read with its user's SID.
      if (context == kInstallContextMachine ? !userSid.empty() : r.sid != userSid) return 87;
      auto value = r.info.find(property);
      if (value == r.info.end()) return 1608;  // ERROR_UNKNOWN_PROPERTY
      return CopyOut(value->second, buffer, length);
    }
    return 1605;  // ERROR_UNKNOWN_PRODUCT
  }

  uint32_t EnableLog(uint32_t logMode, const std::wstring& logFile, uint32_t attributes) override {
    calls_.push_back(L"EnableLog");
    logMode_ = logMode;
    logFile_ = logFile;
    logAttributes_ = attributes;
    return 0;
  }

  int32_t SetInternalUI(int32_t level) override {
    calls_.push_back(L"SetInternalUI " + std::to_wstring(level));
    const int32_t previous = uiLevel_;
    uiLevel_ = level;
    return previous;
  }

  // Called at every ConfigureProductEx, to look at the world as the installer sees it.
  std::function<void(const std::wstring& commandLine)> onConfigure;

  uint32_t ConfigureProductEx(const std::wstring& productCode, int32_t installLevel,
                              int32_t installState, const std::wstring& commandLine) override {
    calls_.push_back(L"ConfigureProductEx " + productCode);
    if (onConfigure) onConfigure(commandLine);
    configurations_.push_back(
        {productCode, installLevel, installState, commandLine, uiLevel_, logFile_, logMode_});
    if (!scriptedConfigureResults.empty()) {
      const uint32_t result = scriptedConfigureResults.front();
      scriptedConfigureResults.erase(scriptedConfigureResults.begin());
      return result;
    }
    auto it = configureResults_.find(productCode);
    return it == configureResults_.end() ? 0 : it->second;
  }
  // Results of the next calls, in order, whatever the product; then the per-product ones.
  std::vector<uint32_t> scriptedConfigureResults;

  uint32_t logAttributes() const { return logAttributes_; }

 private:
  static uint32_t CopyOut(const std::wstring& text, wchar_t* buffer, uint32_t& length) {
    if (text.size() + 1 > length) {
      length = static_cast<uint32_t>(text.size());
      return kErrorMoreData;
    }
    std::copy(text.begin(), text.end(), buffer);
    buffer[text.size()] = L'\0';
    length = static_cast<uint32_t>(text.size());
    return 0;
  }

  std::map<std::wstring, Package> packages_;
  std::map<std::string, Package> packagesByContent_;
  struct Registration {
    std::wstring code;
    uint32_t context;
    std::wstring sid;
    std::map<std::wstring, std::wstring> info;
  };
  std::map<std::wstring, Product> products_;
  std::vector<Registration> registrations_;
  std::map<std::wstring, uint32_t> configureResults_;
  std::map<MsiHandle, std::wstring> open_;
  MsiHandle nextHandle_ = 100;
  int doubleCloses_ = 0;
  std::vector<std::wstring> calls_;
  std::vector<std::wstring> openedPackages_;
  std::vector<Configuration> configurations_;
  int32_t uiLevel_ = 5;  // INSTALLUILEVEL_FULL
  std::wstring logFile_;
  uint32_t logMode_ = 0;
  uint32_t logAttributes_ = 0;
  size_t queriedStates_ = 0;
};

}  // namespace updater::testing
