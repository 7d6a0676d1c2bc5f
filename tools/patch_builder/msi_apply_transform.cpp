// msi_apply_transform DATABASE TRANSFORM OUTPUT: applies a transform file to a copy of an
// installer database with msitools' libmsi and commits the result to OUTPUT. A test helper: an
// independent reader of the transforms the patch builder writes.
#include <libmsi.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: msi_apply_transform DATABASE TRANSFORM OUTPUT\n", stderr);
    return 2;
  }
  GError* error = nullptr;
  LibmsiDatabase* db = libmsi_database_new(argv[1], 0, argv[3], &error);
  if (!db) {
    std::fprintf(stderr, "msi_apply_transform: cannot open %s: %s\n", argv[1],
                 error ? error->message : "");
    return 1;
  }
  const bool ok =
      libmsi_database_apply_transform(db, argv[2], &error) && libmsi_database_commit(db, &error);
  if (!ok) std::fprintf(stderr, "msi_apply_transform: %s\n", error ? error->message : "failed");
  g_object_unref(db);
  return ok ? 0 : 1;
}
