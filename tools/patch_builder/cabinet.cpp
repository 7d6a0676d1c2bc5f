#include "tools/patch_builder/cabinet.h"

#include <libgcab.h>

#include <memory>

namespace patch_builder {
namespace {

template <typename T>
struct Unref {
  void operator()(T* p) const { g_object_unref(p); }
};
template <typename T>
using GPtr = std::unique_ptr<T, Unref<T>>;

std::string Take(GError* e) {
  std::string text = e ? e->message : "unknown error";
  if (e) g_error_free(e);
  return text;
}

struct Extraction {
  std::map<std::string, std::string> paths;
  std::string folder;
  unsigned next = 0;
};

gboolean NameFile(GCabFile* file, gpointer data) {
  auto* extraction = static_cast<Extraction*>(data);
  const std::string name = gcab_file_get_name(file);
  if (extraction->paths.count(name)) return FALSE;  // a second file of the same name is ignored
  const std::string local = "f" + std::to_string(extraction->next++);
  gcab_file_set_extract_name(file, local.c_str());
  extraction->paths[name] = extraction->folder + "/" + local;
  return TRUE;
}

}  // namespace

std::optional<std::map<std::string, std::string>> ExtractCabinet(const std::string& cabinetPath,
                                                                 const std::string& folder,
                                                                 std::string& error) {
  GError* e = nullptr;
  GPtr<GFile> file(g_file_new_for_path(cabinetPath.c_str()));
  GPtr<GFileInputStream> in(g_file_read(file.get(), nullptr, &e));
  if (!in) {
    error = "cannot read cabinet " + cabinetPath + ": " + Take(e);
    return std::nullopt;
  }
  GPtr<GCabCabinet> cabinet(gcab_cabinet_new());
  if (!gcab_cabinet_load(cabinet.get(), G_INPUT_STREAM(in.get()), nullptr, &e)) {
    error = "cabinet " + cabinetPath + " is damaged: " + Take(e);
    return std::nullopt;
  }
  Extraction extraction;
  extraction.folder = folder;
  GPtr<GFile> target(g_file_new_for_path(folder.c_str()));
  if (!gcab_cabinet_extract_simple(cabinet.get(), target.get(), NameFile, &extraction, nullptr,
                                   &e)) {
    error = "cabinet " + cabinetPath + " cannot be extracted: " + Take(e);
    return std::nullopt;
  }
  return extraction.paths;
}

std::optional<std::vector<uint8_t>> WriteCabinet(const std::vector<CabinetFile>& files,
                                                 std::time_t time, std::string& error) {
  GError* e = nullptr;
  GPtr<GCabCabinet> cabinet(gcab_cabinet_new());
  GCabFolder* folder = gcab_folder_new(GCAB_COMPRESSION_MSZIP);
  if (!gcab_cabinet_add_folder(cabinet.get(), folder, &e)) {
    g_object_unref(folder);
    error = "cannot make a cabinet folder: " + Take(e);
    return std::nullopt;
  }
  g_object_unref(folder);  // the cabinet holds it
  GDateTime* date = g_date_time_new_from_unix_utc(static_cast<gint64>(time));
  for (const CabinetFile& f : files) {
    GPtr<GFile> source(g_file_new_for_path(f.path.c_str()));
    GPtr<GCabFile> entry(gcab_file_new_with_file(f.name.c_str(), source.get()));
    if (!gcab_folder_add_file(folder, entry.get(), FALSE, nullptr, &e)) {
      g_date_time_unref(date);
      error = "cannot add " + f.name + " to the cabinet: " + Take(e);
      return std::nullopt;
    }
    gcab_file_set_date_time(entry.get(), date);
  }
  g_date_time_unref(date);
  GPtr<GOutputStream> out(g_memory_output_stream_new_resizable());
  if (!gcab_cabinet_write_simple(cabinet.get(), out.get(), nullptr, nullptr, nullptr, &e) ||
      !g_output_stream_close(out.get(), nullptr, &e)) {
    error = "cannot write the cabinet: " + Take(e);
    return std::nullopt;
  }
  auto* memory = G_MEMORY_OUTPUT_STREAM(out.get());
  const auto* data = static_cast<const uint8_t*>(g_memory_output_stream_get_data(memory));
  return std::vector<uint8_t>(data, data + g_memory_output_stream_get_data_size(memory));
}

}  // namespace patch_builder
