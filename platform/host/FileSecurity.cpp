#include "platform/host/FileSecurity.h"

#include <sys/stat.h>

#include "platform/WinError.h"
#include "platform/host/DefaultSecurity.h"
#include "platform/text/Text.h"

namespace host {
namespace {

bool StatEntry(const std::string& hostPath, uint64_t* inode, bool* isFolder) {
  struct stat st;
  if (stat(hostPath.c_str(), &st) != 0) return false;
  *inode = static_cast<uint64_t>(st.st_ino);
  *isFolder = S_ISDIR(st.st_mode);
  return true;
}

// The stored-case names below the drive root of a mapped path.
std::vector<std::string> StoredComponents(const std::string& hostPath, const std::string& rootPath) {
  return text::SplitNonEmpty(std::string_view(hostPath).substr(rootPath == "/" ? 0 : rootPath.size()), "/");
}

}  // namespace

std::string FileSecurityKey(std::string_view windowsPath) { return text::AsciiLower(windowsPath); }

FileSecurityStore::FileSecurityStore(HostDb& db, const PathMap& paths, const Profile& profile,
                                     FileSecurityCache& cache)
    : db_(db), paths_(paths), profile_(profile), cache_(cache) {}

FileSecurityCache::Level& FileSecurityStore::CachedLevel(const std::string& fold) {
  const auto known = cache_.levels.find(fold);
  if (known != cache_.levels.end()) return known->second;
  FileSecurityCache::Level level;
  Statement st(db_, "SELECT sd, ino FROM file_sd WHERE fold=?");
  st.Bind(1, fold);
  if (st.Step()) {
    const std::string bytes = st.Blob(0);
    winsec::SecurityDescriptor sd;
    if (winsec::SecurityDescriptor::FromSelfRelative(winsec::AsBytes(bytes), &sd) == winerr::kSuccess) {
      level.stored = std::move(sd);
      level.storedInode = static_cast<uint64_t>(st.Int(1));
    }
  }
  return cache_.levels.emplace(fold, std::move(level)).first->second;
}

std::optional<winsec::SecurityDescriptor> FileSecurityStore::StoredFor(const std::string& fold,
                                                                      const std::string& hostPath) {
  FileSecurityCache::Level& level = CachedLevel(fold);
  if (!level.stored) return std::nullopt;
  if (!level.inode) {
    uint64_t inode = 0;
    bool isFolder = false;
    level.inode = StatEntry(hostPath, &inode, &isFolder) ? inode : 0;
  }
  // A row of an entry that was deleted and made anew is stale: the new
  // entry starts from its folder, as a new file on Windows does.
  if (*level.inode != level.storedInode) return std::nullopt;
  return level.stored;
}

uint32_t FileSecurityStore::Locate(std::string_view path, FileObject* object) {
  WinPath parsed;
  if (uint32_t rc = paths_.Parse(path, &parsed)) return rc;
  const MappedPath mapped = paths_.Map(parsed);
  if (!mapped.exists) return mapped.parentExists ? winerr::kFileNotFound : winerr::kPathNotFound;
  uint64_t inode = mapped.inode;
  bool isFolder = S_ISDIR(mapped.mode);
  // The mapping looked at the entry unless it is a link, whose target counts.
  if (mapped.mode == 0 && !StatEntry(mapped.hostPath, &inode, &isFolder)) return winerr::kPathNotFound;

  const uint64_t generation = db_.Generation();
  if (generation != cache_.generation) {
    cache_.levels.clear();
    cache_.generation = generation;
  }
  WinPath root{parsed.drive, {}};
  std::string levelHostPath = paths_.Map(root).hostPath;
  const std::vector<std::string> names = StoredComponents(mapped.hostPath, levelHostPath);
  WinPath level = root;
  object->chain.clear();
  object->chain.reserve(names.size() + 1);
  // Every level above the object is a folder: the object is in it.
  for (size_t i = 0; i < names.size(); ++i) {
    object->chain.push_back({StoredFor(FileSecurityKey(level.ToString()), levelHostPath), true});
    level.components.push_back(names[i]);
    levelHostPath += (levelHostPath == "/" ? "" : "/") + names[i];
  }
  object->windowsPath = level.ToString();
  object->fold = FileSecurityKey(object->windowsPath);
  object->hostPath = levelHostPath;
  object->inode = inode;
  object->isFolder = isFolder;
  FileSecurityCache::Level& own = CachedLevel(object->fold);
  own.inode = inode;
  object->chain.push_back({own.stored && own.storedInode == inode ? own.stored : std::nullopt, isFolder});
  return winerr::kSuccess;
}

winsec::SecurityDescriptor FileSecurityStore::Effective(const FileObject& object) const {
  SecurityDefaults defaults([this] { return RootDefault(); }, [this] { return CreatorDefaultsOf(db_); });
  return EffectiveSecurity(object.chain, defaults, winsec::kFileGenericMapping);
}

uint32_t FileSecurityStore::Store(const FileObject& object, const winsec::SecurityDescriptor& sd) {
  winsec::Bytes bytes;
  if (uint32_t rc = sd.ToSelfRelative(&bytes)) return rc;
  Statement st(db_,
               "INSERT INTO file_sd(fold, path, sd, ino) VALUES(?, ?, ?, ?) "
               "ON CONFLICT(fold) DO UPDATE SET path=excluded.path, sd=excluded.sd, ino=excluded.ino");
  st.Bind(1, object.fold)
      .Bind(2, object.windowsPath)
      .BindBlob(3, winsec::ToByteString(bytes))
      .Bind(4, static_cast<int64_t>(object.inode))
      .Run();
  FileSecurityCache::Level& level = cache_.levels[object.fold];
  level.stored.emplace();
  winsec::SecurityDescriptor::FromSelfRelative(bytes, &*level.stored);
  level.storedInode = object.inode;
  level.inode = object.inode;
  return winerr::kSuccess;
}

winsec::SecurityDescriptor FileSecurityStore::RootDefault() const {
  winsec::Sid user, domain;
  winsec::Sid::FromString(db_.Meta("user_sid"), &user);
  winsec::Sid::FromString(db_.Meta("domain_sid"), &domain);
  return DefaultSecurityOf(DefaultObject::kDriveRoot, profile_, user, domain);
}

}  // namespace host
