// The stale cleanup's walk, pure: which work folders it removes and how it empties them.
#include "workfolder/work_folder_walk.h"
#include "workfolder/work_folder_name.h"

namespace {

// Inside a folder proven ours these go before a deletion: a read-only file or folder
// refuses it, and nothing there needs to stay hidden or system on its way out.
const uint32_t BlockingAttributes = ReadOnlyAttribute | HiddenAttribute | SystemAttribute;

// The walk's one path buffer and how much of it is in use.
template <typename Char>
struct WalkPath {
  Char* text;
  uint32_t length;
  uint32_t capacity;
};

template <typename Text>
uint32_t CountUnits(const Text* text) {
  uint32_t count = 0;
  while (text[count] != 0) ++count;
  return count;
}

// Appends `text`: a listed name, or plain ASCII. Returns 0 when it would not fit; the path
// is then unchanged.
template <typename Char, typename Text>
int Append(WalkPath<Char>* path, const Text* text) {
  uint32_t count = CountUnits(text);
  if (path->length + count + 1 > path->capacity) return 0;
  for (uint32_t i = 0; i <= count; ++i) path->text[path->length + i] = static_cast<Char>(text[i]);
  path->length += count;
  return 1;
}

template <typename Char>
void CutTo(WalkPath<Char>* path, uint32_t length) {
  path->length = length;
  path->text[length] = 0;
}

template <typename Char>
Char LowerCase(Char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<Char>(c + ('a' - 'A')) : c;
}

// File names compare without regard to case, as the file system does; `ascii` is plain.
template <typename Char>
int IsNamed(const Char* name, const char* ascii) {
  uint32_t i = 0;
  while (name[i] != 0 && LowerCase(name[i]) == LowerCase(static_cast<Char>(ascii[i]))) ++i;
  return name[i] == 0 && ascii[i] == 0;
}

template <typename Char>
int IsDotOrDotDot(const Char* name) {
  return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

enum TreeAction {
  TreeSkip,        // "." and ".."
  TreeDeleteFile,  // a file, or a link to one: the entry itself goes
  TreeDescend,     // a real folder: everything below it, then the folder
  TreeUnlink,      // a link to a folder: the link itself goes, never entered
  TreeLock,        // the work folder's lock file: it goes last
};

template <typename Char>
TreeAction ChooseTreeAction(const WalkEntry<Char>* entry, int inWorkFolder) {
  if (IsDotOrDotDot(entry->name)) return TreeSkip;
  if (!(entry->attributes & FolderAttribute)) {
    return inWorkFolder && IsNamed(entry->name, LockFileName) ? TreeLock : TreeDeleteFile;
  }
  return entry->attributes & ReparsePointAttribute ? TreeUnlink : TreeDescend;
}

template <typename Char>
void ClearBlockingAttributes(const WalkCalls<Char>* calls, const Char* path, uint32_t attributes) {
  // A link keeps its own: setting them might reach what it points to.
  if ((attributes & BlockingAttributes) && !(attributes & ReparsePointAttribute)) {
    calls->setAttributes(calls->context, path, NormalAttribute);
  }
}

// What a listing of the work folder itself showed: anything but its lock file, and the
// lock file's attributes when it was listed.
struct FolderLook {
  int others;
  int lockListed;
  uint32_t lockAttributes;
};

template <typename Char>
void NoteEntry(FolderLook* look, const WalkEntry<Char>* entry, TreeAction action) {
  if (action == TreeLock) {
    look->lockListed = 1;
    look->lockAttributes = entry->attributes;
  } else if (action != TreeSkip) {
    look->others = 1;
  }
}

// Starts listing the folder that `path` names (with its backslash); the first entry goes
// to `entry`. Null when nothing is listed.
template <typename Char>
WalkSearch StartSearch(const WalkCalls<Char>* calls, WalkPath<Char>* path, WalkEntry<Char>* entry) {
  uint32_t folder = path->length;
  if (!Append(path, "*.*")) return 0;
  WalkSearch search = calls->findFirst(calls->context, path->text, entry);
  CutTo(path, folder);
  return search;
}

// Deletes everything in the work folder that `path` names but its lock file, depth first
// in listing order, and stops at the first failure; what the folder itself listed goes to
// `look`. One search stays open per level, as deep as the paths go, without recursion:
// the levels live in `buffers`. Returns nonzero when nothing failed.
template <typename Char>
int EmptyWorkFolder(const WalkCalls<Char>* calls, const WalkBuffers<Char>* buffers,
                    WalkPath<Char>* path, WalkEntry<Char>* entry, FolderLook* look) {
  void* context = calls->context;
  WalkLevel* levels = buffers->levels;
  uint32_t depth = 0;
  levels[0].end = path->length;
  levels[0].search = StartSearch(calls, path, entry);
  // Nothing listed: a second look decides.
  look->others = levels[0].search == 0;
  if (levels[0].search == 0) return 1;
  int listed = 1;  // `entry` holds the next entry of the deepest search
  for (;;) {
    int done = 1;
    if (!listed) {
      calls->findClose(context, levels[depth].search);
      if (depth == 0) return 1;
      // Everything the search listed is gone: the folder goes too.
      CutTo(path, levels[depth].end - 1);
      --depth;
      done = calls->removeFolder(context, path->text);
    } else {
      TreeAction action = ChooseTreeAction(entry, depth == 0);
      if (depth == 0) NoteEntry(look, entry, action);
      if (action == TreeSkip || action == TreeLock) {
      } else if (!Append(path, entry->name)) {
        done = 0;
      } else if (action == TreeDeleteFile) {
        ClearBlockingAttributes(calls, path->text, entry->attributes);
        done = calls->deleteFile(context, path->text);
      } else if (action == TreeUnlink) {
        done = calls->removeFolder(context, path->text);
      } else {
        ClearBlockingAttributes(calls, path->text, entry->attributes);
        WalkLevel* below = &levels[depth + 1];
        done = depth + 1 < buffers->levelCount && Append(path, "\\");
        if (done) {
          below->end = path->length;
          below->search = StartSearch(calls, path, entry);
          if (below->search != 0) {
            ++depth;  // `entry` holds its first entry
            continue;
          }
          // Nothing listed: only removing the folder can tell whether it is empty.
          CutTo(path, below->end - 1);
          done = calls->removeFolder(context, path->text);
        }
      }
    }
    CutTo(path, levels[depth].end);
    if (!done) break;
    listed = calls->findNext(context, levels[depth].search, entry);
  }
  for (uint32_t level = 0; level <= depth; ++level) calls->findClose(context, levels[level].search);
  return 0;
}

// Lists the work folder that `path` names again, into `look`.
template <typename Char>
void LookAgain(const WalkCalls<Char>* calls, WalkPath<Char>* path, WalkEntry<Char>* entry,
               FolderLook* look) {
  FolderLook fresh = {0, 0, 0};
  WalkSearch search = StartSearch(calls, path, entry);
  fresh.others = search == 0;  // a folder that lists nothing may hold anything
  if (search != 0) {
    do {
      NoteEntry(&fresh, entry, ChooseTreeAction(entry, 1));
    } while (!fresh.others && calls->findNext(calls->context, search, entry));
    calls->findClose(calls->context, search);
  }
  *look = fresh;
}

// Removes the work folder that `path` names (with its backslash, listed with `attributes`)
// when its lock file opens. The lock file goes last, and only from a folder that holds nothing
// else: a folder of ours never loses its lock while it has content, so a later run can always
// finish it. Returns nonzero when the folder is gone.
template <typename Char>
int RemoveWorkFolder(const WalkCalls<Char>* calls, const WalkBuffers<Char>* buffers,
                     WalkPath<Char>* path, WalkEntry<Char>* entry, uint32_t attributes) {
  void* context = calls->context;
  uint32_t folder = path->length;
  if (!Append(path, LockFileName)) return 0;
  int unheld = calls->isLockFree(context, path->text);
  CutTo(path, folder);
  FolderLook look = {0, 0, 0};
  if (!unheld || !EmptyWorkFolder(calls, buffers, path, entry, &look)) return 0;
  // Look again after any deletion: deleting a file that another program holds open with
  // delete sharing (a virus scanner, an indexer) only marks it, and it stays listed until
  // that program lets go. The lock file stays with it.
  if (look.others) LookAgain(calls, path, entry, &look);
  if (look.others) return 0;
  Append(path, LockFileName);  // fits: it did above
  if (look.lockListed) {
    ClearBlockingAttributes(calls, path->text, look.lockAttributes);
    if (!calls->deleteLock(context, path->text)) {
      CutTo(path, folder);
      return 0;
    }
  }
  CutTo(path, folder - 1);
  ClearBlockingAttributes(calls, path->text, attributes);
  int removed = calls->removeFolder(context, path->text);
  path->text[folder - 1] = static_cast<Char>('\\');
  CutTo(path, folder);
  // Something came in after the look: the folder stays, and gets its lock file back.
  if (!removed && Append(path, LockFileName)) calls->createLock(context, path->text);
  CutTo(path, folder);
  return removed;
}

}  // namespace

template <typename Char>
int RemoveUnheldWorkFolders(const WalkCalls<Char>* calls, const WalkBuffers<Char>* buffers) {
  WalkPath<Char> path = {buffers->path, CountUnits(buffers->path), buffers->capacity};
  uint32_t temp = path.length;
  WalkEntry<Char> entry;
  if (buffers->levelCount == 0 || !Append(&path, WorkFolderPattern)) return 0;
  WalkSearch search = calls->findFirst(calls->context, path.text, &entry);
  CutTo(&path, temp);
  if (search == 0) return 0;
  int removed = 0;
  do {
    // A link is never followed, not even to look for a lock file behind it; a folder
    // whose path would not fit was never one of ours.
    uint32_t attributes = entry.attributes;
    if ((attributes & FolderAttribute) && !(attributes & ReparsePointAttribute) &&
        Append(&path, entry.name) && Append(&path, "\\")) {
      removed |= RemoveWorkFolder(calls, buffers, &path, &entry, attributes);
    }
    CutTo(&path, temp);
  } while (calls->findNext(calls->context, search, &entry));
  calls->findClose(calls->context, search);
  return removed;
}

template int RemoveUnheldWorkFolders<char>(const WalkCalls<char>*, const WalkBuffers<char>*);
template int RemoveUnheldWorkFolders<WideChar>(const WalkCalls<WideChar>*,
                                               const WalkBuffers<WideChar>*);

int MakeExtendedFolderPath(WideChar* path, uint32_t capacity) {
  uint32_t length = CountUnits(path);
  int twoBackslashes = length >= 2 && path[0] == '\\' && path[1] == '\\';
  int extended =
      twoBackslashes && length >= 4 && (path[2] == '?' || path[2] == '.') && path[3] == '\\';
  int drive = length >= 3 && LowerCase(path[0]) >= 'a' && LowerCase(path[0]) <= 'z' &&
              path[1] == ':' && path[2] == '\\';
  // A UNC path drops one of its two leading backslashes for "\\?\UNC".
  const char* prefix = extended ? "" : twoBackslashes ? "\\\\?\\UNC" : "\\\\?\\";
  uint32_t dropped = twoBackslashes && !extended ? 1 : 0;
  uint32_t prefixLength = CountUnits(prefix);
  uint32_t backslash = length > 0 && path[length - 1] != '\\' ? 1 : 0;
  uint32_t total = length - dropped + prefixLength + backslash;
  if ((!twoBackslashes && !drive) || total + 1 > capacity) {
    if (capacity > 0) path[0] = 0;
    return 0;
  }
  for (uint32_t i = length; i > dropped; --i) path[i - 1 - dropped + prefixLength] = path[i - 1];
  for (uint32_t i = 0; i < prefixLength; ++i) path[i] = static_cast<WideChar>(prefix[i]);
  if (backslash) path[total - 1] = '\\';
  path[total] = 0;
  return 1;
}
