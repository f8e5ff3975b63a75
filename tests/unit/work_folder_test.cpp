// Work folders: their names, and the stale cleanup's walk over an in-memory disk, in both
// character widths: which work folders go, what stays, what stands in a deletion's way and
// what a later run finishes.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
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

const std::string Temp = "C:\\TEMP";
const std::string Lock = "Quorvantix.lok";

// How another program holds a file open.
enum class Hold { None, SharingDelete, Alone };

struct Node {
  std::string path;  // as made, '\'-separated
  uint32_t attributes;
  Hold hold = Hold::None;
  bool deletePending = false;  // deleted while held with delete sharing: still listed
};

std::string Lower(std::string text) {
  for (char& c : text) c = c >= 'A' && c <= 'Z' ? char(c + 32) : c;
  return text;
}

template <typename Char>
std::string Narrow(const Char* text) {
  std::string narrow;
  for (; *text != 0; ++text) narrow += char(*text);
  return narrow;
}

// A disk of nodes keyed by their path in lower case, as the file system compares names. A
// lock file deleted while its folder holds anything else is noted as a fault. (Links are
// left to the end-to-end tests, which see how the system lists them.)
struct FakeDisk {
  std::map<std::string, Node> nodes;
  std::vector<std::vector<Node>> searches;  // what each search lists, in order
  std::vector<size_t> nextEntry;            // SIZE_MAX: closed
  std::vector<std::string> faults;
  std::string arrivesAtLockDeletion;  // a file another program makes just then

  Node* Find(const std::string& path) {
    auto found = nodes.find(Lower(path));
    return found == nodes.end() ? nullptr : &found->second;
  }
  void Add(const std::string& path, uint32_t attributes, Hold hold = Hold::None) {
    size_t cut = path.rfind('\\');
    if (cut > Temp.size() && !Find(path.substr(0, cut))) Add(path.substr(0, cut), 0x10);
    nodes[Lower(path)] = {path, attributes, hold};
  }
  bool HasChildren(const std::string& folder) {
    std::string prefix = Lower(folder) + "\\";
    auto next = nodes.upper_bound(prefix);
    return next != nodes.end() && next->first.compare(0, prefix.size(), prefix) == 0;
  }
  void Erase(const std::string& path) { nodes.erase(Lower(path)); }
  // The other programs close their files: marked ones go.
  void LetGo() {
    for (auto it = nodes.begin(); it != nodes.end();) {
      it->second.hold = Hold::None;
      it = it->second.deletePending ? nodes.erase(it) : std::next(it);
    }
  }
  std::set<std::string> Paths() const {  // relative to Temp, '/'-separated
    std::set<std::string> paths;
    for (const auto& node : nodes) {
      std::string path = node.second.path.substr(Temp.size() + 1);
      for (char& c : path) c = c == '\\' ? '/' : c;
      paths.insert(path);
    }
    return paths;
  }

  // "folder\*.*" lists everything with its dots, "folder\TempFolder.*" names starting so.
  template <typename Char>
  static WalkSearch FindFirst(void* c, const Char* pattern, WalkEntry<Char>* entry) {
    FakeDisk* d = static_cast<FakeDisk*>(c);
    std::string text = Narrow(pattern);
    std::string folder = text.substr(0, text.rfind('\\')), mask = text.substr(folder.size() + 1);
    Node* node = d->Find(folder);
    if (folder != Temp && (!node || !(node->attributes & FolderAttribute))) return nullptr;
    std::vector<Node> listed;
    if (mask == "*.*") listed = {{".", 0x10}, {"..", 0x10}};
    std::string prefix = Lower(folder) + "\\" + Lower(mask.substr(0, mask.find('*')));
    for (const auto& n : d->nodes) {
      bool inside = n.first.compare(0, prefix.size(), prefix) == 0;
      if (inside && n.first.find('\\', folder.size() + 1) == std::string::npos) {
        listed.push_back({n.second.path.substr(folder.size() + 1), n.second.attributes});
      }
    }
    if (listed.empty()) return nullptr;
    d->searches.push_back(listed);
    d->nextEntry.push_back(0);
    WalkSearch search = reinterpret_cast<WalkSearch>(d->searches.size());
    FindNext(c, search, entry);
    return search;
  }
  template <typename Char>
  static int FindNext(void* c, WalkSearch search, WalkEntry<Char>* entry) {
    FakeDisk* d = static_cast<FakeDisk*>(c);
    size_t at = reinterpret_cast<size_t>(search) - 1;
    if (d->nextEntry[at] >= d->searches[at].size()) return 0;
    const Node& next = d->searches[at][d->nextEntry[at]++];
    entry->attributes = next.attributes;
    for (size_t i = 0; i <= next.path.size(); ++i) entry->name[i] = Char(next.path.c_str()[i]);
    return 1;
  }
  static void FindClose(void* c, WalkSearch search) {
    static_cast<FakeDisk*>(c)->nextEntry[reinterpret_cast<size_t>(search) - 1] = SIZE_MAX;
  }
  template <typename Char>
  static int IsLockFree(void* c, const Char* path) {
    Node* lock = static_cast<FakeDisk*>(c)->Find(Narrow(path));
    return lock && !(lock->attributes & FolderAttribute) && lock->hold == Hold::None;
  }
  template <typename Char>
  static int DeleteLock(void* c, const Char* path) {
    FakeDisk* d = static_cast<FakeDisk*>(c);
    Node* lock = d->Find(Narrow(path));
    if (!lock || lock->hold != Hold::None || (lock->attributes & ReadOnlyAttribute)) return 0;
    std::string folder = lock->path.substr(0, lock->path.rfind('\\'));
    d->Erase(lock->path);
    if (d->HasChildren(folder)) d->faults.push_back("lock deleted beside content in " + folder);
    if (!d->arrivesAtLockDeletion.empty()) d->Add(d->arrivesAtLockDeletion, 0x20);
    return 1;
  }
  template <typename Char>
  static int CreateLock(void* c, const Char* path) {
    FakeDisk* d = static_cast<FakeDisk*>(c);
    if (d->Find(Narrow(path))) return 0;
    d->Add(Narrow(path), 0x22);
    return 1;
  }
  template <typename Char>
  static int DeleteFile(void* c, const Char* path) {
    FakeDisk* d = static_cast<FakeDisk*>(c);
    Node* file = d->Find(Narrow(path));
    if (!file || (file->attributes & (FolderAttribute | ReadOnlyAttribute)) ||
        file->hold == Hold::Alone || file->deletePending) {
      return 0;
    }
    if (file->hold == Hold::SharingDelete) {
      file->deletePending = true;
    } else {
      d->Erase(file->path);
    }
    return 1;
  }
  template <typename Char>
  static int RemoveFolder(void* c, const Char* path) {
    FakeDisk* d = static_cast<FakeDisk*>(c);
    Node* folder = d->Find(Narrow(path));
    if (!folder ||
        (folder->attributes & (FolderAttribute | ReadOnlyAttribute)) != FolderAttribute ||
        d->HasChildren(folder->path)) {
      return 0;
    }
    d->Erase(folder->path);
    return 1;
  }
  template <typename Char>
  static int SetAttributes(void* c, const Char* path, uint32_t attributes) {
    FakeDisk* d = static_cast<FakeDisk*>(c);
    Node* node = d->Find(Narrow(path));
    if (!node) return 0;
    uint32_t kept = node->attributes & FolderAttribute;
    node->attributes = kept | (attributes == NormalAttribute ? 0 : attributes);
    return 1;
  }

  // One cleanup with a path buffer of `capacity` characters; its result.
  template <typename Char>
  int Clean(uint32_t capacity) {
    WalkCalls<Char> calls = {this,
                             FindFirst<Char>,
                             FindNext<Char>,
                             FindClose,
                             IsLockFree<Char>,
                             DeleteLock<Char>,
                             CreateLock<Char>,
                             DeleteFile<Char>,
                             RemoveFolder<Char>,
                             SetAttributes<Char>};
    std::vector<Char> path(capacity);
    for (size_t i = 0; i <= Temp.size(); ++i) path[i] = Char((Temp + "\\").c_str()[i]);
    std::vector<WalkLevel> levels(capacity / 2 + 1);
    WalkBuffers<Char> buffers = {path.data(), capacity, levels.data(), uint32_t(levels.size())};
    int removed = RemoveUnheldWorkFolders(&calls, &buffers);
    for (size_t next : nextEntry) EXPECT_EQ(next, SIZE_MAX) << "a search left open";
    return removed;
  }
};

// `path` below Temp, '/'-separated, as the walk names it.
std::string UnderTemp(std::string path) {
  for (char& c : path) c = c == '/' ? '\\' : c;
  return Temp + "\\" + path;
}

// What lies under the temporary folder; folders above a path are made as needed.
struct Given {
  std::string path;  // '/'-separated, below Temp
  uint32_t attributes;
  Hold hold = Hold::None;
};
Given File(std::string path, uint32_t more = 0) { return {path, 0x20 | more}; }
Given Folder(std::string path, uint32_t more = 0) { return {path, 0x10 | more}; }
Given HeldFile(std::string path, Hold hold) { return {path, 0x20, hold}; }
Given LockIn(std::string folder) { return File(folder + "/" + Lock, HiddenAttribute); }

enum class Widths { Both, AnsiOnly, WideOnly };

struct WalkRow {
  const char* name;
  std::vector<Given> disk;
  int removed;                      // the cleanup's result
  std::set<std::string> left = {};  // what it leaves
  // After the other programs let go, what a second cleanup leaves; none: not run.
  std::optional<std::set<std::string>> later = {};
  Widths widths = Widths::Both;
  std::string arrivesAtLockDeletion = {};  // '/'-separated
};
void PrintTo(const WalkRow& row, std::ostream* out) { *out << row.name; }

const std::set<std::string> Nothing;
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
    {.name = "a_file_marked_for_deletion_keeps_the_lock",
     .disk = {LockIn("TempFolder.abc"), File("TempFolder.abc/a.dat"),
              HeldFile("TempFolder.abc/held.dat", Hold::SharingDelete),
              File("TempFolder.abc/z.dat")},
     .removed = 0,
     .left = {"TempFolder.abc", "TempFolder.abc/Quorvantix.lok", "TempFolder.abc/held.dat"},
     .later = Nothing},
    {.name = "a_held_file_stops_its_folder_not_the_next",
     .disk = {LockIn("TempFolder.abc"), File("TempFolder.abc/a.dat"),
              HeldFile("TempFolder.abc/b.dat", Hold::Alone), File("TempFolder.abc/c.dat"),
              LockIn("TempFolder.abd"), File("TempFolder.abd/cine.dll")},
     .removed = 1,
     .left = {"TempFolder.abc", "TempFolder.abc/Quorvantix.lok", "TempFolder.abc/b.dat",
              "TempFolder.abc/c.dat"},
     .later = Nothing},
    // The lock file's name in any case; below the work folder it is an ordinary file.
    {.name = "the_lock_file_is_known_by_its_name_alone",
     .disk = {File("TempFolder.abc/QUORVANTIX.LOK"), LockIn("TempFolder.abc/sub")},
     .removed = 1},
    {.name = "a_tree_deeper_than_260_goes_with_wide_paths",
     .disk = {LockIn("TempFolder.abc"), File(Deep + "/deep.dat")},
     .removed = 1,
     .widths = Widths::WideOnly},
    {.name = "a_tree_deeper_than_260_keeps_the_lock_with_ansi_paths",
     .disk = {LockIn("TempFolder.abc"), File(Deep + "/deep.dat")},
     .removed = 0,
     .left = {"TempFolder.abc", "TempFolder.abc/" + D100, "TempFolder.abc/" + D100 + "/" + D100,
              Deep, Deep + "/deep.dat", "TempFolder.abc/Quorvantix.lok"},
     .widths = Widths::AnsiOnly},
    {.name = "what_arrives_after_the_last_look_gets_the_lock_back",
     .disk = {LockIn("TempFolder.abc"), File("TempFolder.abc/a.dat")},
     .removed = 0,
     .left = {"TempFolder.abc", "TempFolder.abc/Quorvantix.lok", "TempFolder.abc/late.tmp"},
     .arrivesAtLockDeletion = "TempFolder.abc/late.tmp"},
};

template <typename Char>
void Check(const WalkRow& row, uint32_t capacity) {
  FakeDisk disk;
  for (const Given& given : row.disk) disk.Add(UnderTemp(given.path), given.attributes, given.hold);
  if (!row.arrivesAtLockDeletion.empty()) {
    disk.arrivesAtLockDeletion = UnderTemp(row.arrivesAtLockDeletion);
  }
  EXPECT_EQ(disk.Clean<Char>(capacity), row.removed);
  EXPECT_EQ(disk.Paths(), row.left);
  EXPECT_EQ(disk.faults, std::vector<std::string>());
  if (!row.later) return;
  disk.LetGo();
  disk.Clean<Char>(capacity);
  EXPECT_EQ(disk.Paths(), *row.later) << "after the other programs let go";
}

class CleanupWalk : public testing::TestWithParam<WalkRow> {};

TEST_P(CleanupWalk, LeavesOnlyWhatItMust) {
  const WalkRow& row = GetParam();
  if (row.widths != Widths::WideOnly) {
    SCOPED_TRACE("ANSI");
    Check<char>(row, 260);
  }
  if (row.widths != Widths::AnsiOnly) {
    SCOPED_TRACE("wide");
    Check<WideChar>(row, 32768);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, CleanupWalk, testing::ValuesIn(Rows),
                         [](const testing::TestParamInfo<WalkRow>& info) {
                           return info.param.name;
                         });

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
      {u"TEMP\\", 64, u""},
      {u"C:TEMP", 64, u""},
      {u"", 64, u""},
  };
  for (const Case& c : cases) {
    std::u16string buffer = c.path + u'\0' + std::u16string(80, u'#');
    int made = MakeExtendedFolderPath(reinterpret_cast<WideChar*>(&buffer[0]), c.capacity);
    EXPECT_EQ(made, c.extended.empty() ? 0 : 1) << Narrow(c.path.c_str());
    EXPECT_EQ(std::u16string(buffer.c_str()), c.extended) << Narrow(c.path.c_str());
    EXPECT_EQ(buffer.find_first_not_of(u'#', c.capacity), std::u16string::npos) << "written past";
  }
}

}  // namespace
