// A document this process saved, kept parsed for the next change within the
// run instead of being read again. It stands for the file only while the
// file is still the one that save left: same file id, size and last write
// time, as the Files service reports them. Any other writer (another run,
// a hand edit) changes at least one of them, and the file is read again.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/Files.h"
#include "platform/xml/Dom.h"

class CKeptDocument {
 public:
  // The kept document when `path` is the path it was saved to and the file
  // there is unchanged since; null otherwise. The document is handed over:
  // a caller that changes it keeps it again with Keep after its save, so a
  // change that was never saved is never taken for the file's content.
  xml::Document Take(std::string_view path);
  // Right after `document`'s text was saved to `path`: `document` must be
  // what a load of that file gives. Nothing is kept when the file cannot be
  // looked at.
  void Keep(std::string_view path, const xml::Document& document);
  void Forget();

 private:
  struct Stamp {
    plat::FileId id;
    uint64_t size = 0;
    uint64_t lastWriteTime = 0;
    bool operator==(const Stamp&) const = default;
  };
  static bool StampOf(std::string_view path, Stamp* stamp);

  std::string path_;
  xml::Document document_;
  Stamp stamp_;
};
