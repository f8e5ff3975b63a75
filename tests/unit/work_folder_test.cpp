// Work folders: their names, and the stale cleanup's walk over an in-memory disk, in both
// character widths: which work folders go, what stays, and what stands in a deletion's way.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "workfolder/work_folder_name.h"
#include "workfolder/work_folder_walk.h"

namespace {

// The first name below the temporary path: a backslash added when missing; a path too long
// to leave room for the name and the lock file is refused and left as it was.
TEST(WorkFolderName, StartsAtTempFolderAaaBelowATemporaryPathThatLeavesRoom) {
  const std::string t229 = "C:" + std::string(227, 't');
  struct Row {
    std::string temp, path;  // path: empty when refused
  };
  const Row rows[] = {
      {"D:\\TEMP\\", "D:\\TEMP\\TempFolder.aaa"},
      {"D:\\TEMP", "D:\\TEMP\\TempFolder.aaa"},
      {"", ""},
      {t229 + "\\", t229 + "\\TempFolder.aaa"},
      {t229 + "t\\", ""},
      {t229 + "t", ""},
  };
  for (const Row& row : rows) {
    char path[PathCapacity];
    strcpy(path, row.temp.c_str());
    const uint32_t length = StartWorkFolderPath(path, SingleByteCodePage);
    EXPECT_EQ(length, row.path.size()) << row.temp;
    EXPECT_EQ(path, row.path.empty() ? row.temp : row.path);
  }
}

TEST(WorkFolderSuffix, CountsAaaToZzzLastLetterFastestThenStops) {
  char path[PathCapacity] = "X:\\";
  const uint32_t length = StartWorkFolderPath(path, SingleByteCodePage);
  std::string previous = path + length - 3;
  int names = 1;
  while (AdvanceWorkFolderSuffix(path, length)) {
    const std::string now = path + length - 3;
    ASSERT_LT(previous, now) << "names go up alphabetically";
    ASSERT_TRUE(now.find_first_not_of("abcdefghijklmnopqrstuvwxyz") == std::string::npos) << now;
    ASSERT_EQ(std::string(path, length - 3), "X:\\TempFolder.") << "the prefix changed";
    ASSERT_LE(++names, 17576) << "the odometer must end";
    previous = now;
  }
  EXPECT_EQ(names, 17576);  // every name, each once, ending at zzz
  EXPECT_EQ(previous, "zzz");
}

const std::string Temp = "C:\\TEMP\\";
const std::string Lock = "Quorvantix.lok";

// How another program holds a file open.
enum class Hold { None, SharingDelete, Alone };

// What lies under the temporary folder; folders above a path are made as needed.
struct Given {
  std::string path;  // '/'-separated, below Temp
  uint32_t attributes;
  Hold hold = Hold::None;
};
Given File(std::string path, uint32_t more = 0) { return {path, 0x20 | more}; }
Given Folder(std::string path, uint32_t more = 0) { return {path, 0x10 | more}; }
Given HeldFile(std::string path, Hold hold) { return {path, 0x20, hold}; }
// A live run holds its lock file alone.
Given LockIn(std::string folder, Hold hold = Hold::None) {
  return {folder + "/" + Lock, 0x20 | HiddenAttribute, hold};
}

// The file system compares names without regard to case.
std::string Lower(std::string text) {
  for (char& c : text) c = c >= 'A' && c <= 'Z' ? char(c + 32) : c;
  return text;
}

// A disk of what lies under Temp, keyed by the path in lower case. A lock file deleted while its
// folder holds anything else is noted as a fault. (Links are left to the end-to-end tests, which
// see how the system lists them.)
template <typename Char>
struct FakeDisk {
  std::map<std::string, Given> nodes;
  std::vector<std::vector<Given>> searches;  // what each search lists, in order
  std::vector<size_t> nextEntry;             // SIZE_MAX: closed
  std::vector<std::string> faults;
  std::string arrivesAtLockDeletion;  // a file another program makes just then

  static FakeDisk* Of(void* c) { return static_cast<FakeDisk*>(c); }
  // A path the walk names, below Temp and '/'-separated.
  static std::string Below(const Char* path) {
    std::string below;
    for (path += Temp.size(); *path != 0; ++path) below += char(*path == '\\' ? '/' : *path);
    return below;
  }
  static std::string Key(const Char* path) { return Lower(Below(path)); }
  Given* Find(const Char* path) {
    auto found = nodes.find(Key(path));
    return found == nodes.end() ? nullptr : &found->second;
  }
  void Add(const Given& given) {
    const std::string folder = given.path.substr(0, given.path.rfind('/'));
    if (folder != given.path && !nodes.count(Lower(folder))) Add(Folder(folder));
    nodes[Lower(given.path)] = given;
  }
  bool HasChildren(const std::string& key) {
    auto next = nodes.upper_bound(key + "/");
    return next != nodes.end() && next->first.compare(0, key.size() + 1, key + "/") == 0;
  }
  // What is left: every file, and every folder that holds none.
  std::set<std::string> Leaves() {
    std::set<std::string> leaves;
    for (const auto& node : nodes) {
      if (!HasChildren(node.first)) leaves.insert(node.second.path);
    }
    return leaves;
  }

  // "folder\*.*" lists everything with its dots, "folder\TempFolder.*" names starting so.
  static WalkSearch FindFirst(void* c, const Char* pattern, WalkEntry<Char>* entry) {
    const std::string key = Key(pattern);
    const std::string folder = key.substr(0, key.rfind('/') + 1);  // with its '/'
    const std::string mask = key.substr(folder.size());
    const std::string prefix = folder + mask.substr(0, mask.find('*'));
    std::vector<Given> listed;
    if (mask == "*.*") listed = {Folder("."), Folder("..")};
    for (const auto& n : Of(c)->nodes) {
      if (n.first.compare(0, prefix.size(), prefix) == 0 &&
          n.first.find('/', folder.size()) == std::string::npos) {
        listed.push_back(n.second);
        listed.back().path.erase(0, folder.size());
      }
    }
    if (listed.empty()) return nullptr;
    Of(c)->searches.push_back(listed);
    Of(c)->nextEntry.push_back(0);
    WalkSearch search = reinterpret_cast<WalkSearch>(Of(c)->searches.size());
    FindNext(c, search, entry);
    return search;
  }
  static int FindNext(void* c, WalkSearch search, WalkEntry<Char>* entry) {
    const size_t at = reinterpret_cast<size_t>(search) - 1;
    if (Of(c)->nextEntry[at] >= Of(c)->searches[at].size()) return 0;
    const Given& next = Of(c)->searches[at][Of(c)->nextEntry[at]++];
    entry->attributes = next.attributes;
    for (size_t i = 0; i <= next.path.size(); ++i) entry->name[i] = Char(next.path.c_str()[i]);
    return 1;
  }
  static void FindClose(void* c, WalkSearch search) {
    Of(c)->nextEntry[reinterpret_cast<size_t>(search) - 1] = SIZE_MAX;
  }
  static int IsLockFree(void* c, const Char* path) {
    Given* lock = Of(c)->Find(path);
    return lock && lock->hold == Hold::None;
  }
  // Deletes a file, the lock file too: one held with delete sharing is only marked for
  // deletion, and so still listed.
  static int DeleteFile(void* c, const Char* path) {
    Given* file = Of(c)->Find(path);
    if (!file || (file->attributes & (FolderAttribute | ReadOnlyAttribute)) ||
        file->hold == Hold::Alone) {
      return 0;
    }
    const std::string key = Key(path);
    if (file->hold != Hold::SharingDelete) Of(c)->nodes.erase(key);
    const std::string folder = key.substr(0, key.rfind('/'));
    if (key != folder + "/" + Lower(Lock) || folder.find('/') != std::string::npos) return 1;
    if (Of(c)->HasChildren(folder)) Of(c)->faults.push_back("lock deleted beside content");
    if (!Of(c)->arrivesAtLockDeletion.empty()) Of(c)->Add(File(Of(c)->arrivesAtLockDeletion));
    return 1;
  }
  static int CreateLock(void* c, const Char* path) {
    Of(c)->Add(File(Below(path), HiddenAttribute));
    return 1;
  }
  static int RemoveFolder(void* c, const Char* path) {
    Given* folder = Of(c)->Find(path);
    const uint32_t kind = FolderAttribute | ReadOnlyAttribute;
    if (!folder || (folder->attributes & kind) != FolderAttribute ||
        Of(c)->HasChildren(Key(path))) {
      return 0;
    }
    Of(c)->nodes.erase(Key(path));
    return 1;
  }
  static int SetAttributes(void* c, const Char* path, uint32_t attributes) {
    Given* node = Of(c)->Find(path);
    if (!node) return 0;
    const uint32_t kept = node->attributes & FolderAttribute;
    node->attributes = kept | (attributes == NormalAttribute ? 0 : attributes);
    return 1;
  }
};

struct WalkRow {
  const char* name;
  std::vector<Given> disk;
  int removed;                      // the cleanup's result
  std::set<std::string> left = {};  // the files it leaves, and the empty folders
  bool ansi = true;                 // walked with ANSI paths, and with wide ones
  bool wide = true;
  std::string arrivesAtLockDeletion = {};
};

const std::string D100(100, 'd');
const std::string Deep = "TempFolder.abc/" + D100 + "/" + D100 + "/" + D100;

const WalkRow Rows[] = {
    {.name = "what_stands_in_the_way_is_cleared",
     .disk = {LockIn("TempFolder.abc"), File("TempFolder.abc/cine.dll"),
              File("TempFolder.abc/ro.dat", ReadOnlyAttribute),
              File("TempFolder.abc/hs.dat", HiddenAttribute | SystemAttribute),
              Folder("TempFolder.abc/Xtras", ReadOnlyAttribute | HiddenAttribute),
              File("TempFolder.abc/Xtras/one.x32", ReadOnlyAttribute),
              Folder("TempFolder.abc/empty"), Folder("TempFolder.zzz", ReadOnlyAttribute | 0x2),
              File("TempFolder.zzz/" + Lock, ReadOnlyAttribute | HiddenAttribute)},
     .removed = 1},
    // A live run's folder, and one without a lock file (another program's), are not ours
    // to touch; a file held alone stops its folder's emptying, not the next folder's.
    {.name = "live_runs_and_held_files_keep_their_folders",
     .disk = {LockIn("TempFolder.aaa", Hold::Alone), File("TempFolder.aaa/cine.dll"),
              File("TempFolder.abb/theirs.txt"), LockIn("TempFolder.abc"),
              File("TempFolder.abc/a.dat"), HeldFile("TempFolder.abc/b.dat", Hold::Alone),
              File("TempFolder.abc/c.dat"), LockIn("TempFolder.abd"),
              File("TempFolder.abd/cine.dll")},
     .removed = 1,
     .left = {"TempFolder.aaa/Quorvantix.lok", "TempFolder.aaa/cine.dll",
              "TempFolder.abb/theirs.txt", "TempFolder.abc/Quorvantix.lok", "TempFolder.abc/b.dat",
              "TempFolder.abc/c.dat"}},
    // Deleting a file held with delete sharing only marks it: still listed, it keeps the
    // lock file in its folder, so that a later run can finish.
    {.name = "a_file_marked_for_deletion_keeps_the_lock",
     .disk = {LockIn("TempFolder.abc"), File("TempFolder.abc/a.dat"),
              HeldFile("TempFolder.abc/held.dat", Hold::SharingDelete),
              File("TempFolder.abc/z.dat")},
     .removed = 0,
     .left = {"TempFolder.abc/Quorvantix.lok", "TempFolder.abc/held.dat"}},
    // The lock file's name in any case; below the work folder it is an ordinary file.
    {.name = "the_lock_file_is_known_by_its_name_alone",
     .disk = {File("TempFolder.abc/QUORVANTIX.LOK"), LockIn("TempFolder.abc/sub")},
     .removed = 1},
    {.name = "a_tree_deeper_than_260_goes_with_wide_paths",
     .disk = {LockIn("TempFolder.abc"), File(Deep + "/deep.dat")},
     .removed = 1,
     .ansi = false},
    {.name = "a_tree_deeper_than_260_keeps_the_lock_with_ansi_paths",
     .disk = {LockIn("TempFolder.abc"), File(Deep + "/deep.dat")},
     .removed = 0,
     .left = {Deep + "/deep.dat", "TempFolder.abc/Quorvantix.lok"},
     .wide = false},
    {.name = "what_arrives_after_the_last_look_gets_the_lock_back",
     .disk = {LockIn("TempFolder.abc"), File("TempFolder.abc/a.dat")},
     .removed = 0,
     .left = {"TempFolder.abc/Quorvantix.lok", "TempFolder.abc/late.tmp"},
     .arrivesAtLockDeletion = "TempFolder.abc/late.tmp"},
};

// One cleanup of the row's disk, with the path buffer of its width: what it says and leaves.
template <typename Char>
void Check(const WalkRow& row) {
  SCOPED_TRACE(sizeof(Char) == 1 ? "ANSI" : "wide");
  using Disk = FakeDisk<Char>;
  Disk disk;
  for (const Given& given : row.disk) disk.Add(given);
  disk.arrivesAtLockDeletion = row.arrivesAtLockDeletion;
  const WalkCalls<Char> calls = {&disk,
                                 Disk::FindFirst,
                                 Disk::FindNext,
                                 Disk::FindClose,
                                 Disk::IsLockFree,
                                 Disk::DeleteFile,
                                 Disk::CreateLock,
                                 Disk::DeleteFile,
                                 Disk::RemoveFolder,
                                 Disk::SetAttributes};
  const uint32_t capacity = sizeof(Char) == 1 ? 260 : 32768;
  std::vector<Char> path(capacity);
  std::copy(Temp.begin(), Temp.end(), path.begin());
  std::vector<WalkLevel> levels(capacity / 2 + 1);
  WalkBuffers<Char> buffers = {path.data(), capacity, levels.data(), uint32_t(levels.size())};
  EXPECT_EQ(RemoveUnheldWorkFolders(&calls, &buffers), row.removed);
  for (size_t next : disk.nextEntry) EXPECT_EQ(next, SIZE_MAX) << "a search left open";
  EXPECT_EQ(disk.Leaves(), row.left);
  EXPECT_EQ(disk.faults, std::vector<std::string>());
}

TEST(CleanupWalk, LeavesOnlyWhatItMust) {
  for (const WalkRow& row : Rows) {
    SCOPED_TRACE(row.name);
    if (row.ansi) Check<char>(row);
    if (row.wide) Check<WideChar>(row);
  }
}

TEST(ExtendedFolderPath, TakesDrivesAndSharesToAnyLengthOrFails) {
  struct Case {
    std::u16string path;
    uint32_t capacity;
    std::u16string extended;  // empty: refused
  };
  const Case cases[] = {
      {u"C:\\TEMP", 64, u"\\\\?\\C:\\TEMP\\"},
      {u"c:\\t\\", 64, u"\\\\?\\c:\\t\\"},
      {u"\\\\server\\share\\tmp", 64, u"\\\\?\\UNC\\server\\share\\tmp\\"},
      {u"\\\\?\\C:\\x", 64, u"\\\\?\\C:\\x\\"},
      {u"\\\\.\\X:\\", 64, u"\\\\.\\X:\\"},
      {u"C:\\TEMP", 13, u"\\\\?\\C:\\TEMP\\"},
      {u"C:\\TEMP", 12, u""},
      {u"\\\\s\\t", 13, u"\\\\?\\UNC\\s\\t\\"},
      {u"C:TEMP", 64, u""},
  };
  for (const Case& c : cases) {
    std::u16string buffer = c.path + u'\0' + std::u16string(80, u'#');
    int made = MakeExtendedFolderPath(reinterpret_cast<WideChar*>(&buffer[0]), c.capacity);
    EXPECT_EQ(made, c.extended.empty() ? 0 : 1) << "row " << &c - cases;
    EXPECT_TRUE(std::u16string(buffer.c_str()) == c.extended) << "row " << &c - cases;
    EXPECT_EQ(buffer.find_first_not_of(u'#', c.capacity), std::u16string::npos) << "written past";
  }
}

}  // namespace
