#pragma once
// The zip manager's model: the open archives with their folder and entry
// nodes, the archive operations the task pipeline and the windows use, and
// the classification of the compression component's results. The zip window
// only draws this tree and forwards the user's commands. Main thread only.
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/zipcomponent.h"

class TZipObj;

enum class ZipNodeKind { Archive, Folder, Entry };

struct ZipTreeNode {
  ZipNodeKind Kind = ZipNodeKind::Entry;
  std::string Text;
  // What the icon is chosen by: the extension with its dot ("" for folders).
  std::string IconKey;
  TZipObj* Data = nullptr;
  ZipTreeNode* Parent = nullptr;
  std::vector<std::unique_ptr<ZipTreeNode>> Children;
};

// A list of names, each with its node, searched without regard to letter
// case like the string lists the archive records are.
class NodeList {
 public:
  void Add(const std::string& key, ZipTreeNode* node);
  ZipTreeNode* Find(const std::string& key) const;
  bool Contains(const std::string& key) const { return Find(key) != nullptr; }
  void RemoveNode(const ZipTreeNode* node);
  std::size_t Count() const { return items_.size(); }
  const std::vector<std::pair<std::string, ZipTreeNode*>>& Items() const { return items_; }

 private:
  std::vector<std::pair<std::string, ZipTreeNode*>> items_;
  std::unordered_map<std::string, std::size_t> index_;  // lower-case key -> first position
  void Reindex();
};

// One open archive.
class TZipObj {
 public:
  std::string FileName;
  NodeList Folders;  // "a/b/" -> its node; "" -> the archive's own node
  NodeList Entries;  // "a/b/x.htm" -> its node
  bool Extracted = false;
  // Where the entries were extracted: the temp folder, or a folder of their
  // own while a zip-mode run writes into the temp folder.
  std::string ExtractFolder;
};

struct PendingCommentInfo {
  std::string FileName;
  std::string Comment;
};

enum ZipOperationKind { zoIdle = 0, zoOpening = 1, zoAdding = 2, zoUpdating = 3, zoExtracting = 5 };
enum ListingModeKind { lmNone = 0, lmArchive = 1, lmFolder = 2, lmPages = 4 };

// One row of the entry list.
using ZipListRow = ZipFileStats;

class TZipManager {
 public:
  TZipManager();
  ~TZipManager();
  TZipManager(const TZipManager&) = delete;
  TZipManager& operator=(const TZipManager&) = delete;

  TZipComponent Zip;
  int ZipOperation = zoIdle;
  int ListingMode = lmNone;
  bool SelectionLocked = false;
  bool ManualAdd = true;
  PendingCommentInfo PendingComment;
  long long OpeningCount = 0;

  // What the window draws. Called after the change.
  std::function<void(ZipTreeNode*)> OnNodeAdded;
  std::function<void(ZipTreeNode*)> OnNodeDeleting;  // before it goes
  std::function<void(ZipTreeNode*)> OnNodeChanged;
  std::function<void(ZipTreeNode*)> OnSelectionChanged;
  std::function<void(const ZipListRow&)> OnRowListed;

  const std::vector<std::unique_ptr<ZipTreeNode>>& Archives() const { return roots_; }
  ZipTreeNode* Selected() const { return selected_; }
  // The guarded selection change of the tree: false when refused.
  bool Select(ZipTreeNode* node);
  static ZipTreeNode* ArchiveRoot(ZipTreeNode* node);

  ZipTreeNode* OpenArchive(const std::string& path);
  ZipTreeNode* AddArchiveNode(const std::string& path);
  void AddFolderNodes(TZipObj& archive, const std::string& folder);
  // Adds a finished file of a run to the archive of the given node (the
  // task's own, whatever the user selected meanwhile). True when the file is
  // in the archive.
  bool AddTaskFile(const std::string& path, ZipTreeNode* archiveNode);
  // The same for several files (path, comment) in one add, as a run at pace
  // 0 does with everything that waits; for each, whether it got in.
  std::vector<bool> AddTaskFiles(const std::vector<std::pair<std::string, std::string>>& files,
                                 ZipTreeNode* archiveNode);
  bool RenameArchive(ZipTreeNode* node, const std::string& newName);
  void CloseArchive();
  // Closes the archive of one node (used when a task ends and by CloseArchive).
  void CloseArchiveNode(ZipTreeNode* root);
  void EnsureExtracted();
  int CheckZipResult(int code, const std::string& verb);
  ZipTreeNode* FindArchiveNode(const std::string& path) const;
  ZipTreeNode* FindEntryNode(const std::string& entry) const;
  // Deletes a node with its subtree, keeping its archive's lists right.
  void DeleteNode(ZipTreeNode* node);
  // Deletes the entries of a mask and the node that showed them, with every
  // folder left empty above it.
  int DeleteEntries(const std::string& mask, ZipTreeNode* node);
  void PruneNode(ZipTreeNode* node);
  // The mask of a node for the component: "*.*", "a/b/*.*" or "a/b/x.htm".
  static std::string NodeMask(const ZipTreeNode* node);
  // The name shown for an entry: its file name, and its comment after three
  // blanks in parentheses.
  static std::string EntryText(const std::string& fileName, const std::string& comment);
  // The entry name of a file below the temp folder (the relative path), or
  // the path itself for a file outside it.
  static std::string EntryNameBelow(const std::string& folder, const std::string& path);

  // True while a zip-mode run writes its files into the temp folder, so that
  // other archives are extracted elsewhere for browsing.
  std::function<const TZipObj*()> RunningArchive;

 private:
  // A run's add of several files: each file's comment, and the entries
  // the component finished writing.
  struct Batch {
    std::map<std::string, std::string> Comments;
    std::set<std::string> Written;  // lower case
  };
  Batch* batch_ = nullptr;
  std::vector<std::unique_ptr<TZipObj>> archives_;
  std::vector<std::unique_ptr<ZipTreeNode>> roots_;
  ZipTreeNode* selected_ = nullptr;
  ZipTreeNode* AddNode(ZipTreeNode* parent, ZipNodeKind kind, const std::string& text, const std::string& icon);
  void AddEntryNode(TZipObj& archive, const std::string& entry, const std::string& comment);
  void ListArchive(ZipTreeNode* root);
  void MakeCurrent(const TZipObj& archive);
  void Forget(ZipTreeNode* node);
};

// The zip manager of the process, made on first use ("shows the window").
TZipManager& ZipManager();
// Whether it exists, without making it.
TZipManager* ExistingZipManager();
void FreeZipManager();

// The zip-file history ("Recent ZIP files"), most recent first.
std::vector<std::string> RecentZipFiles();
void AddRecentZipFile(const std::string& path);
void RemoveRecentZipFile(const std::string& path);
