#include "platform/host/PathMap.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>

#include "platform/WinError.h"
#include "platform/text/Text.h"

namespace host {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::vector<std::string> SplitComponents(std::string_view s) { return text::SplitNonEmpty(s, "\\/"); }

// Windows drops trailing dots and spaces of a path component.
std::string TrimComponent(std::string s) {
  while (!s.empty() && (s.back() == '.' || s.back() == ' ')) s.pop_back();
  return s;
}

bool HasInvalidCharacter(std::string_view component, bool allowWildcards) {
  for (unsigned char c : component) {
    if (c < 32) return true;
    switch (c) {
      case '<': case '>': case ':': case '"': case '|':
        return true;
      case '*': case '?':
        if (!allowWildcards) return true;
        break;
      default:
        break;
    }
  }
  return false;
}

// Applies the components of a relative path to a base, resolving "." and "..".
uint32_t AppendComponents(std::vector<std::string>& base, const std::vector<std::string>& parts,
                          bool allowWildcards) {
  for (const std::string& raw : parts) {
    if (raw == ".") continue;
    if (raw == "..") {
      if (!base.empty()) base.pop_back();
      continue;
    }
    std::string part = TrimComponent(raw);
    if (part.empty()) continue;
    if (HasInvalidCharacter(part, allowWildcards)) return winerr::kInvalidName;
    base.push_back(part);
  }
  return winerr::kSuccess;
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

int64_t ChangeTimeNs(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

std::pair<std::string, std::string> SplitHostPath(const std::string& hostPath) {
  const size_t slash = hostPath.find_last_of('/');
  if (slash == std::string::npos) return {"", hostPath};
  return {hostPath.substr(0, slash), hostPath.substr(slash + 1)};
}

bool DescribesFolder(int64_t changeTimeNs, uint64_t inode, const struct stat& folder) {
  return changeTimeNs == ChangeTimeNs(folder) && inode == static_cast<uint64_t>(folder.st_ino);
}

// More folders than a run looks into by other spellings: the listings are
// dropped all at once beyond it.
constexpr size_t kMaxListings = 4096;

}  // namespace

PathMap::Listing* PathMap::CurrentListing(const std::string& folder) const {
  struct stat st;
  if (stat(folder.empty() ? "/" : folder.c_str(), &st) != 0) {
    listings_.erase(folder);
    return nullptr;
  }
  auto found = listings_.find(folder);
  if (found != listings_.end() && DescribesFolder(found->second.changeTimeNs, found->second.inode, st)) {
    return &found->second;
  }
  DIR* dir = opendir(folder.empty() ? "/" : folder.c_str());
  if (!dir) return nullptr;
  if (found == listings_.end() && listings_.size() >= kMaxListings) listings_.clear();
  Listing& listing = listings_[folder];
  listing = Listing{ChangeTimeNs(st), static_cast<uint64_t>(st.st_ino), {}};
  while (dirent* entry = readdir(dir)) {
    if (!listing.byLowerName.try_emplace(text::AsciiLower(entry->d_name), entry->d_name).second) {
      listing.hasCaseTwins = true;
    }
  }
  closedir(dir);
  return &listing;
}

// The entry of `folder` whose name equals `name` ignoring ASCII case.
bool PathMap::FindEntryNoCase(const std::string& folder, const std::string& name, std::string* stored) const {
  struct stat st;
  if (lstat((folder + "/" + name).c_str(), &st) == 0) {
    *stored = name;
    return true;
  }
  const Listing* listing = CurrentListing(folder);
  if (!listing) return false;
  const auto found = listing->byLowerName.find(text::AsciiLower(name));
  if (found == listing->byLowerName.end()) return false;
  *stored = found->second;
  return true;
}

bool PathMap::BeforeChange(const std::string& hostPath) const {
  const std::string folder = SplitHostPath(hostPath).first;
  const auto found = listings_.find(folder);
  if (found == listings_.end()) return false;
  struct stat st;
  return stat(folder.empty() ? "/" : folder.c_str(), &st) == 0 &&
         DescribesFolder(found->second.changeTimeNs, found->second.inode, st);
}

void PathMap::AfterChange(const std::string& hostPath, bool listingWasCurrent) const {
  const auto [folder, name] = SplitHostPath(hostPath);
  const auto found = listings_.find(folder);
  if (found == listings_.end()) return;
  struct stat st;
  if (!listingWasCurrent || stat(folder.empty() ? "/" : folder.c_str(), &st) != 0) {
    listings_.erase(found);
    return;
  }
  Listing& listing = found->second;
  listing.changeTimeNs = ChangeTimeNs(st);
  const std::string lower = text::AsciiLower(name);
  struct stat entry;
  if (lstat(hostPath.c_str(), &entry) == 0) {
    listing.byLowerName.try_emplace(lower, name);
  } else if (listing.hasCaseTwins) {
    listings_.erase(found);  // another spelling of the name may remain: read again
  } else {
    listing.byLowerName.erase(lower);
  }
}

std::string WinPath::ToString() const {
  std::string s(1, drive);
  s += ":\\";
  for (size_t i = 0; i < components.size(); ++i) {
    if (i) s += '\\';
    s += components[i];
  }
  return s;
}

PathMap::PathMap(std::string driveC) : driveC_(std::move(driveC)) {
  while (driveC_.size() > 1 && driveC_.back() == '/') driveC_.pop_back();
}

uint32_t PathMap::Parse(std::string_view path, WinPath* result, bool allowWildcards) const {
  if (path.empty()) return winerr::kPathNotFound;
  // Long-path prefix "\\?\C:\..." names a plain drive path.
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] == '?' &&
      IsSeparator(path[3])) {
    path.remove_prefix(4);
  }
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return winerr::kBadNetPath;

  WinPath out;
  std::string_view rest = path;
  if (rest.size() >= 2 && rest[1] == ':' && IsDriveLetter(rest[0])) {
    out.drive = static_cast<char>(text::AsciiUpper(std::string(1, rest[0]))[0]);
    rest.remove_prefix(2);
    if (rest.empty() || !IsSeparator(rest[0])) {
      // "C:name" is relative to the current directory of that drive.
      const WinPath current = CurrentWinPath();
      if (out.drive == current.drive) out.components = current.components;
    }
  } else if (IsSeparator(rest[0])) {
    out.drive = CurrentWinPath().drive;
  } else {
    out = CurrentWinPath();
  }
  if (out.drive != 'C' && out.drive != 'Z') return winerr::kPathNotFound;
  if (uint32_t rc = AppendComponents(out.components, SplitComponents(rest), allowWildcards)) return rc;
  *result = std::move(out);
  return winerr::kSuccess;
}

MappedPath PathMap::Map(const WinPath& path) const {
  MappedPath mapped;
  std::string hostPath = path.drive == 'C' ? driveC_ : std::string();
  // Most paths are spelled as they are stored: one look at the whole path
  // then answers for every component (each of them exists in that case).
  if (!path.components.empty()) {
    std::string exact = hostPath;
    for (const std::string& part : path.components) exact += "/" + part;
    struct stat st;
    if (lstat(exact.c_str(), &st) == 0) {
      mapped.hostPath = std::move(exact);
      mapped.exists = mapped.parentExists = true;
      if (!S_ISLNK(st.st_mode)) {
        mapped.mode = st.st_mode;
        mapped.device = static_cast<uint64_t>(st.st_dev);
        mapped.inode = static_cast<uint64_t>(st.st_ino);
      }
      return mapped;
    }
  }
  bool exists = true;
  for (size_t i = 0; i < path.components.size(); ++i) {
    const std::string& part = path.components[i];
    if (i + 1 == path.components.size()) mapped.parentExists = exists;
    std::string stored;
    if (exists && FindEntryNoCase(hostPath, part, &stored)) {
      hostPath += "/" + stored;
    } else {
      exists = false;
      hostPath += "/" + part;
    }
  }
  if (path.components.empty()) {
    mapped.parentExists = true;
    if (hostPath.empty()) hostPath.push_back('/');
  }
  mapped.hostPath = hostPath;
  mapped.exists = exists;
  return mapped;
}

uint32_t PathMap::Resolve(std::string_view path, MappedPath* result) const {
  WinPath parsed;
  if (uint32_t rc = Parse(path, &parsed)) return rc;
  *result = Map(parsed);
  return winerr::kSuccess;
}

std::string PathMap::WindowsPathOf(std::string_view linuxPath) const {
  return WinPathOf(linuxPath).ToString();
}

WinPath PathMap::WinPathOf(std::string_view linuxPath) const {
  std::string absolute(linuxPath);
  if (absolute.empty() || absolute[0] != '/') {
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd)) absolute = std::string(cwd) + "/" + absolute;
  }
  WinPath out;
  std::string_view rest = absolute;
  if (rest.substr(0, driveC_.size()) == driveC_ &&
      (rest.size() == driveC_.size() || rest[driveC_.size()] == '/')) {
    out.drive = 'C';
    rest.remove_prefix(driveC_.size());
  } else {
    out.drive = 'Z';
  }
  AppendComponents(out.components, SplitComponents(rest), true);
  return out;
}

WinPath PathMap::CurrentWinPath() const {
  char cwd[PATH_MAX];
  return WinPathOf(getcwd(cwd, sizeof cwd) ? cwd : "/");
}

std::string PathMap::CurrentDirectory() const { return CurrentWinPath().ToString(); }

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  // "*.*" also matches names without a dot, as on Windows.
  if (p < pattern.size() && pattern.substr(p) == ".*") p = pattern.size();
  return p == pattern.size();
}

}  // namespace host
