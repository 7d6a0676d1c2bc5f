// Writing an embedded payload to a file.
#pragma once

#include <cstdint>
#include <string>

#include "payload/temp_name.h"
#include "platform/system.h"

namespace updater {

inline constexpr wchar_t kPayloadGlobal[] = L"IDR_MSP";
inline constexpr wchar_t kPayloadLanguagePack[] = L"IDR_MSP_LP";
inline constexpr wchar_t kPayloadProductSpecific[] = L"IDR_MSP_PS";

inline constexpr uint32_t kErrorInvalidData = 13;

enum class ExtractStatus {
  kWritten,     // the whole payload is in the file and the file is closed
  kNotCarried,  // the executable has no such payload; no file was created
  kFailed,      // the payload is carried but could not be written; LastError tells why
};

class PayloadStore {
 public:
  explicit PayloadStore(System& system) : system_(system) {}

  // Writes the payload resourceName byte for byte. An empty target asks for a fresh temporary
  // name, created exclusively so that nothing already standing at a name (a planted file, folder
  // or link) is ever opened; a name taken in the meantime moves on to the next number. A non-empty
  // target gives the name through DeriveTargetName with suffixId, and an existing file there is
  // replaced. The chosen name is written back into target as soon as it is settled, before the
  // payload is looked for. A file that could not be written whole is removed again, keeping the
  // error of the failed step. With held given, a written file is not closed but handed back held
  // read-only (WritableFile::KeepReadOnly), so that it stays as written until the caller is done.
  ExtractStatus WritePayload(std::wstring& target, const std::wstring& resourceName,
                             uint32_t suffixId, std::unique_ptr<WritableFile>* held = nullptr);

  // Fresh temporary names are chosen in this folder from now on (the run's private folder).
  void UseTempDirectory(std::wstring directory) { tempNames_.UseDirectory(std::move(directory)); }
  // Fresh temporary names cannot be had from now on: a request fails with this error.
  void RefuseTempNames(uint32_t error) { tempNames_.Refuse(error); }

  // WritePayload reduced to whether the file was written.
  bool ExtractPayload(std::wstring& target, const std::wstring& resourceName, uint32_t suffixId) {
    return WritePayload(target, resourceName, suffixId) == ExtractStatus::kWritten;
  }

 private:
  System& system_;
  TempNameGenerator tempNames_;
};

}  // namespace updater
