#include "archive/zipmanager.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "app/frontend.h"
#include "app/language.h"
#include "app/settingsstore.h"
#include "app/thxapp.h"
#include "url/localfile.h"
#include "url/textutil.h"

namespace fs = std::filesystem;

namespace {

std::string FileNamePart(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FolderPart(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string Extension(const std::string& name) {
  const std::string file = FileNamePart(name);
  const auto dot = file.rfind('.');
  return dot == std::string::npos ? std::string() : file.substr(dot);
}

constexpr const char* kRecentZipKey = "\\Software\\Brindlewood\\Harvix\\Recent ZIP files";
constexpr const char* kCommentMarker = "   (";

}  // namespace

// ---------------------------------------------------------------------------

void NodeList::Add(const std::string& key, ZipTreeNode* node) {
  index_.try_emplace(LowerCase(key), items_.size());
  items_.emplace_back(key, node);
}

ZipTreeNode* NodeList::Find(const std::string& key) const {
  const auto it = index_.find(LowerCase(key));
  return it == index_.end() ? nullptr : items_[it->second].second;
}

void NodeList::RemoveNode(const ZipTreeNode* node) {
  const auto it = std::find_if(items_.begin(), items_.end(), [&](const auto& p) { return p.second == node; });
  if (it == items_.end()) return;
  items_.erase(it);
  Reindex();
}

void NodeList::Reindex() {
  index_.clear();
  for (std::size_t i = 0; i < items_.size(); ++i) index_.try_emplace(LowerCase(items_[i].first), i);
}

// ---------------------------------------------------------------------------

TZipManager::TZipManager() {
  Zip.Compression = ReadSetting(kSettingsKey, "Compression", 6);
  Zip.UsePaths = ReadSetting(kSettingsKey, "Use Paths", true);
  Zip.Overwrite = ZipOverwrite::xowAsk;
  Zip.UseTempFile = false;
  Zip.OnAdding = [this](const ZipFileStats& s) {
    ZipOperation = zoAdding;
    UI().ShowStatus("Adding: " + s.Name);
  };
  Zip.OnUpdating = [this](const ZipFileStats& s) {
    ZipOperation = zoUpdating;
    UI().ShowStatus("Updating: " + s.Name);
  };
  Zip.OnExtracting = [this](const ZipFileStats& s) {
    ZipOperation = zoExtracting;
    UI().ShowStatus("Extracting \"" + s.Name + "\".");
  };
  Zip.OnDeleting = [](const std::string& entry) { UI().ShowStatus("Deleting: " + entry); };
  Zip.OnStatus = [this](const ZipFileStats& s) {
    if (s.Done && batch_) batch_->Written.insert(LowerCase(s.Name));
    if (s.Done) UI().ShowStatus("Ready");
    else UI().ShowStatus("Ready", s.Percent);
  };
  Zip.OnFileComment = [this](const std::string& file) {
    if (batch_) {
      const auto it = batch_->Comments.find(file);
      return it == batch_->Comments.end() ? std::string() : it->second.substr(0, 255);
    }
    return PendingComment.Comment.substr(0, 255);
  };
  Zip.OnReplace = [](const std::string& existing, const std::string& incoming) {
    const MsgAnswer a = UI().AskUser("Replace File : " + existing + "\r" + "With File: " + incoming,
                                     MsgButtons::YesNoCancelAll, MsgAnswer::No);
    switch (a) {
      case MsgAnswer::Yes: return ZipReplaceReply::Yes;
      case MsgAnswer::Cancel: return ZipReplaceReply::Cancel;
      case MsgAnswer::All: return ZipReplaceReply::All;
      default: return ZipReplaceReply::No;
    }
  };
  Zip.OnSkipping = [](const std::string& name, const std::string& reason) {
    UI().ShowStatus("Skipped " + name + ": " + reason);
  };
}

TZipManager::~TZipManager() = default;

ZipTreeNode* TZipManager::ArchiveRoot(ZipTreeNode* node) {
  while (node && node->Parent) node = node->Parent;
  return node;
}

bool TZipManager::Select(ZipTreeNode* node) {
  if (ZipOperation != zoIdle || ListingMode != lmNone) return false;
  if (node == selected_) return true;
  if (SelectionLocked && node && selected_ && ArchiveRoot(node) != ArchiveRoot(selected_)) return false;
  selected_ = node;
  if (node && node->Data && LowerCase(node->Data->FileName) != LowerCase(Zip.ZipFileName)) MakeCurrent(*node->Data);
  if (OnSelectionChanged) OnSelectionChanged(node);
  return true;
}

void TZipManager::MakeCurrent(const TZipObj& archive) { Zip.ZipFileName = archive.FileName; }

ZipTreeNode* TZipManager::AddNode(ZipTreeNode* parent, ZipNodeKind kind, const std::string& text,
                                  const std::string& icon) {
  auto node = std::make_unique<ZipTreeNode>();
  node->Kind = kind;
  node->Text = text;
  node->IconKey = icon;
  node->Parent = parent;
  node->Data = parent ? parent->Data : nullptr;
  ZipTreeNode* raw = node.get();
  if (parent) parent->Children.push_back(std::move(node));
  else roots_.push_back(std::move(node));
  if (OnNodeAdded) OnNodeAdded(raw);
  return raw;
}

ZipTreeNode* TZipManager::FindArchiveNode(const std::string& path) const {
  const std::string p = BackslashesToSlashes(path);
  for (const auto& root : roots_)
    if (root->Data && root->Data->FileName == p) return root.get();
  return nullptr;
}

ZipTreeNode* TZipManager::FindEntryNode(const std::string& entry) const {
  if (!selected_ || !selected_->Data) return nullptr;
  return selected_->Data->Entries.Find(BackslashesToSlashes(entry));
}

ZipTreeNode* TZipManager::AddArchiveNode(const std::string& path) {
  const std::string p = BackslashesToSlashes(path);
  std::error_code ec;
  const fs::path folder = fs::path(p).parent_path();
  if (!folder.empty()) fs::create_directories(folder, ec);
  auto obj = std::make_unique<TZipObj>();
  obj->FileName = p;
  Zip.ZipFileName = p;
  TZipObj* raw = obj.get();
  archives_.push_back(std::move(obj));
  auto node = std::make_unique<ZipTreeNode>();
  node->Kind = ZipNodeKind::Archive;
  node->Text = FileNamePart(p);
  node->IconKey = Extension(p);
  node->Data = raw;
  ZipTreeNode* root = node.get();
  roots_.push_back(std::move(node));
  raw->Folders.Add("", root);
  if (OnNodeAdded) OnNodeAdded(root);
  selected_ = root;
  if (OnSelectionChanged) OnSelectionChanged(root);
  return root;
}

void TZipManager::AddFolderNodes(TZipObj& archive, const std::string& folder) {
  std::string f = BackslashesToSlashes(folder);
  if (f.empty() || archive.Folders.Contains(f)) return;
  if (f.back() != '/') f += '/';
  ZipTreeNode* parent = archive.Folders.Find("");
  if (!parent) return;
  for (std::size_t slash = f.find('/'); slash != std::string::npos; slash = f.find('/', slash + 1)) {
    const std::string prefix = f.substr(0, slash + 1);
    if (ZipTreeNode* known = archive.Folders.Find(prefix)) {
      parent = known;
      continue;
    }
    const std::string name = FileNamePart(prefix.substr(0, prefix.size() - 1));
    parent = AddNode(parent, ZipNodeKind::Folder, name, "");
    archive.Folders.Add(prefix, parent);
  }
}

std::string TZipManager::EntryText(const std::string& fileName, const std::string& comment) {
  return comment.empty() ? fileName : fileName + kCommentMarker + comment + ")";
}

void TZipManager::AddEntryNode(TZipObj& archive, const std::string& entry, const std::string& comment) {
  const std::string folder = FolderPart(entry);
  AddFolderNodes(archive, folder);
  ZipTreeNode* parent = archive.Folders.Find(folder);
  if (!parent) parent = archive.Folders.Find("");
  const std::string name = FileNamePart(entry);
  ZipTreeNode* node = AddNode(parent, ZipNodeKind::Entry, EntryText(name, comment), Extension(name));
  archive.Entries.Add(entry, node);
}

void TZipManager::ListArchive(ZipTreeNode* root) {
  TZipObj& archive = *root->Data;
  ListingMode = lmArchive;
  MakeCurrent(archive);
  long long listed = 0;
  Zip.OnListing = [&](const ZipFileStats& s) {
    if (s.Name.empty()) return;
    if (s.Name.back() == '/') {
      AddFolderNodes(archive, s.Name);
    } else if (!archive.Entries.Contains(s.Name)) {
      AddEntryNode(archive, s.Name, s.Comment);
    }
    if (OnRowListed) OnRowListed(s);
    ++listed;
    if (ZipOperation == zoOpening && OpeningCount > 0)
      UI().ShowStatus(LanguageString(699), static_cast<int>(listed * 100 / OpeningCount));
  };
  Zip.FilesToProcess = {"*.*"};
  Zip.List();
  Zip.OnListing = nullptr;
  ListingMode = lmNone;
}

ZipTreeNode* TZipManager::OpenArchive(const std::string& path) {
  const std::string p = BackslashesToSlashes(path);
  if (ZipTreeNode* known = FindArchiveNode(p)) {
    selected_ = known;
    MakeCurrent(*known->Data);
    if (OnSelectionChanged) OnSelectionChanged(known);
    return known;
  }
  UI().ShowStatus(LanguageString(704) + " " + FileNamePart(p));
  ZipTreeNode* root = AddArchiveNode(p);
  ZipOperation = zoOpening;
  AddRecentZipFile(p);
  OpeningCount = std::max(0LL, Zip.EntryCount());
  ListArchive(root);
  ZipOperation = zoIdle;
  UI().ShowStatus("");
  return root;
}

std::string TZipManager::EntryNameBelow(const std::string& folder, const std::string& path) {
  auto full = [](const std::string& p) {
    std::string s = fs::absolute(fs::path(BackslashesToSlashes(p))).lexically_normal().string();
    if (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
  };
  const std::string f = full(folder), p = full(path);
  if (LowerCase(p) == LowerCase(f)) return "";
  if (p.size() > f.size() && LowerCase(p.substr(0, f.size())) == LowerCase(f) && p[f.size()] == '/')
    return p.substr(f.size() + 1);
  if (f == "/") return p.substr(1);
  return p;
}

bool TZipManager::AddTaskFile(const std::string& path, ZipTreeNode* archiveNode) {
  return AddTaskFiles({{path, PendingComment.Comment}}, archiveNode).front();
}

std::vector<bool> TZipManager::AddTaskFiles(const std::vector<std::pair<std::string, std::string>>& files,
                                            ZipTreeNode* archiveNode) {
  std::vector<bool> added(files.size(), false);
  ZipTreeNode* root = ArchiveRoot(archiveNode);
  if (!root || !root->Data || files.empty()) return added;
  TZipObj& archive = *root->Data;
  const std::string temp = HXApp ? HXApp->TempFolder() : std::string();
  Zip.BaseFolder = temp;
  Zip.UsePaths = true;
  Zip.Recurse = false;
  Batch batch;
  std::vector<std::string> entries;
  Zip.FilesToProcess.clear();
  for (const auto& [path, comment] : files) {
    const std::string entry = EntryNameBelow(temp, path);
    const std::string given = entry.empty() || entry.front() == '/' ? path : entry;
    entries.push_back(entry);
    Zip.FilesToProcess.push_back(given);
    batch.Comments[given] = comment;
    batch.Comments[path] = comment;
  }
  ZipOperation = zoAdding;
  // The run's files go into the run's archive even while the user looks at
  // another one; the user's choice is current again afterwards.
  const std::string userCurrent = Zip.ZipFileName;
  MakeCurrent(archive);
  batch_ = &batch;
  const int code = Zip.Add(ZipAddMode::AddReplace);
  batch_ = nullptr;
  // A file that could not be read is only "skipped" for the component, but
  // for the run it is a file that did not get in.
  if (CheckZipResult(code, "adding") != 2) {
    for (std::size_t i = 0; i < files.size(); ++i) {
      added[i] = batch.Written.count(LowerCase(entries[i])) > 0;
      if (added[i] && !archive.Entries.Contains(entries[i])) AddEntryNode(archive, entries[i], files[i].second);
    }
  }
  Zip.ZipFileName = selected_ && selected_->Data ? selected_->Data->FileName : userCurrent;
  return added;
}

bool TZipManager::RenameArchive(ZipTreeNode* node, const std::string& newName) {
  ZipTreeNode* root = ArchiveRoot(node);
  if (!root || !root->Data) return false;
  TZipObj& archive = *root->Data;
  const std::string old = BackslashesToSlashes(archive.FileName);
  const std::string target = UniqueFileName(FolderPart(old) + newName);
  std::error_code ec;
  // A "/" in the name would move the archive into another folder.
  if (newName.empty() || newName.find('/') != std::string::npos) ec = std::make_error_code(std::errc::invalid_argument);
  else fs::rename(old, target, ec);
  if (ec) {
    UI().ShowError("Unable to rename file to: " + target + "\n" +
                   "A file may not contain any of the following characters: " + "\n" + "\\/:*?\"<>|");
    return false;
  }
  root->Text = FileNamePart(target);
  if (OnNodeChanged) OnNodeChanged(root);
  Zip.ZipFileName = target;
  archive.FileName = target;
  RemoveRecentZipFile(old);
  AddRecentZipFile(target);
  return true;
}

void TZipManager::Forget(ZipTreeNode* node) {
  for (auto& child : node->Children) Forget(child.get());
  if (node->Data) {
    node->Data->Folders.RemoveNode(node);
    node->Data->Entries.RemoveNode(node);
  }
  if (selected_ == node) selected_ = nullptr;
}

void TZipManager::DeleteNode(ZipTreeNode* node) {
  if (!node) return;
  if (OnNodeDeleting) OnNodeDeleting(node);
  Forget(node);
  auto& siblings = node->Parent ? node->Parent->Children : roots_;
  const auto it = std::find_if(siblings.begin(), siblings.end(), [&](const auto& p) { return p.get() == node; });
  if (it != siblings.end()) siblings.erase(it);
}

void TZipManager::CloseArchiveNode(ZipTreeNode* root) {
  root = ArchiveRoot(root);
  if (!root) return;
  TZipObj* archive = root->Data;
  // The running zip-mode task adds to this archive's nodes.
  if (RunningArchive && archive && RunningArchive() == archive) return;
  if (archive && Zip.ZipFileName == archive->FileName) Zip.ZipFileName.clear();
  const bool hadSelection = selected_ != nullptr;
  DeleteNode(root);
  archives_.erase(std::remove_if(archives_.begin(), archives_.end(), [&](const auto& p) { return p.get() == archive; }),
                  archives_.end());
  if (hadSelection && !selected_ && OnSelectionChanged) OnSelectionChanged(nullptr);
}

void TZipManager::CloseArchive() {
  if (selected_) CloseArchiveNode(selected_);
}

void TZipManager::EnsureExtracted() {
  if (!selected_ || !selected_->Data) return;
  TZipObj& archive = *selected_->Data;
  std::error_code ec;
  if (!fs::is_regular_file(Zip.ZipFileName, ec) || archive.Extracted || SelectionLocked) return;
  std::string folder = HXApp ? HXApp->TempFolder() : std::string("./");
  // A zip-mode run writes its files into the temp folder; another archive
  // extracted there would overwrite them.
  const TZipObj* running = RunningArchive ? RunningArchive() : nullptr;
  if (running && running != &archive) {
    const std::size_t hash = std::hash<std::string>{}(archive.FileName);
    char tag[20];
    std::snprintf(tag, sizeof tag, "%08zx", hash & 0xffffffffu);
    folder += "_zips/" + FileNameWithoutExt(archive.FileName) + "_" + tag + "/";
  }
  ZipOperation = zoExtracting;
  Zip.FilesToProcess.clear();
  for (const auto& [key, node] : archive.Entries.Items()) Zip.FilesToProcess.push_back(key);
  Zip.ExtractDirectory = folder;
  Zip.UsePaths = true;
  Zip.Overwrite = ZipOverwrite::xowAlways;
  const int code = Zip.Extract();
  if (CheckZipResult(code, "extracting") != 2) {
    archive.Extracted = true;
    archive.ExtractFolder = folder;
    UI().ShowStatus("All files extracted successfully.");
  }
}

int TZipManager::CheckZipResult(int code, const std::string& verb) {
  struct Row {
    int Code, Result;
    bool Error;
    const char* Text;
  };
  static const Row kRows[] = {
      {10, 1, false, nullptr},
      {30, 1, false, nullptr},
      {140, 1, false, nullptr},
      {40, 1, false, "Some files were skipped while %."},
      {50, 1, false, "The Zip file is empty."},
      {100, 2, true, "Could not find the archive file."},
      {110, 2, true, "The archive file is corrupted. Try using the Fix option on it."},
      {160, 2, true, "The archive file is corrupted. Try using the Fix option on it."},
      {120, 2, true, "Ran out of memory while %."},
      {150, 2, true, "Disk full while %."},
      {180, 2, true,
       "Another application is currently performing a similar task. Wait until the other application has completed "
       "its operation."},
      {190, 2, true, nullptr},
      {200, 2, true, "Test failed - Errors in the archive."},
      {210, 2, true, "No files ended up being tested in the archive."},
      {240, 2, true, "The XCDZIP32.DLL or the XCDUNZ32.DLL file could not be found."},
      {280, 2, true, "Problem with the temporary file."},
      {350, 2, true, "Attempt to remove parent directory."},
      {370, 2, true, "Names repeated in archive after discarding pathnames."},
      {380, 2, true, "Could not update the Zip archive date. Archive only contains directories or is empty."},
      {400, 2, true, "Could not access the Zip file or one of the files to process."},
      {410, 2, true, "Attempt to work with a multiple-disk Zip archive, but not in multidisk mode."},
      {420, 2, true, "Wrong disk was inserted too many times."},
  };
  int result = 0;
  if (code > 0) {
    const Row* row = nullptr;
    for (const Row& r : kRows)
      if (r.Code == code) row = &r;
    const Row fallback{code, 2, true, "An error occured while % the specified files."};
    if (!row) row = &fallback;
    result = row->Result;
    if (row->Text) {
      std::string text = row->Text;
      if (const auto at = text.find('%'); at != std::string::npos) text.replace(at, 1, verb);
      if (row->Error) UI().ShowError(text);
      else UI().ShowMessage(text);
    }
  }
  ZipOperation = zoIdle;
  return result;
}

std::string TZipManager::NodeMask(const ZipTreeNode* node) {
  if (!node) return "";
  if (node->Kind == ZipNodeKind::Archive) return "*.*";
  std::string path;
  for (const ZipTreeNode* p = node->Parent; p && p->Kind != ZipNodeKind::Archive; p = p->Parent) path = p->Text + "/" + path;
  if (node->Kind == ZipNodeKind::Folder) return path + node->Text + "/*.*";
  const auto marker = node->Text.find(kCommentMarker);
  return path + (marker == std::string::npos ? node->Text : node->Text.substr(0, marker));
}

int TZipManager::DeleteEntries(const std::string& mask, ZipTreeNode* node) {
  Zip.FilesToProcess = {mask};
  const int result = CheckZipResult(Zip.Delete(), "deleting");
  // A failed delete leaves the entries in the archive, so their nodes stay.
  if (node && result != 2) PruneNode(node);
  return result;
}

void TZipManager::PruneNode(ZipTreeNode* node) {
  if (!node || node->Kind == ZipNodeKind::Archive) return;
  ZipTreeNode* parent = node->Parent;
  DeleteNode(node);
  while (parent && parent->Kind != ZipNodeKind::Archive && parent->Children.empty()) {
    ZipTreeNode* up = parent->Parent;
    DeleteNode(parent);
    parent = up;
  }
}

// ---------------------------------------------------------------------------

namespace {
std::unique_ptr<TZipManager> g_manager;
}

TZipManager& ZipManager() {
  if (!g_manager) g_manager = std::make_unique<TZipManager>();
  return *g_manager;
}

TZipManager* ExistingZipManager() { return g_manager.get(); }

void FreeZipManager() { g_manager.reset(); }

std::vector<std::string> RecentZipFiles() {
  std::vector<std::string> files;
  for (const RegValue& v : Registry().Values(kRecentZipKey))
    if (!v.IsInteger && !v.Str.empty()) files.push_back(v.Str);
  return files;
}

namespace {
void SaveRecentZipFiles(const std::vector<std::string>& files) {
  const std::size_t max = static_cast<std::size_t>(std::max(1, HXApp ? HXApp->MaxFileHistory : 10));
  Registry().DeleteKey(kRecentZipKey);
  for (std::size_t i = 0; i < files.size() && i < max; ++i) {
    RegValue v;
    v.Name = 'F';
    v.Name += std::to_string(i);
    v.Str = files[i];
    Registry().Put(kRecentZipKey, v);
  }
}
}  // namespace

void AddRecentZipFile(const std::string& path) {
  std::vector<std::string> files = RecentZipFiles();
  std::erase(files, path);
  files.insert(files.begin(), path);
  SaveRecentZipFiles(files);
}

void RemoveRecentZipFile(const std::string& path) {
  std::vector<std::string> files = RecentZipFiles();
  if (std::erase(files, path) > 0) SaveRecentZipFiles(files);
}
