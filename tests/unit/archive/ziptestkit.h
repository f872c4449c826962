#pragma once
// Helpers for the compression component's tests: archives written byte by
// byte (for names and layouts the component would never write), file
// contents and times, and the other readers (unzip, Python's zipfile) that
// must accept what the component writes.
#include <cstdint>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "archive/zipcomponent.h"

namespace ziptest {

std::uint32_t Crc32(const std::string& data);

// A stored (method 0) archive written without the component.
struct RawEntry {
  std::string name;
  std::string data;
  std::string comment;
};
// zip64End adds a Zip64 end record and locator, with the classic end
// record's fields saturated, as writers of Zip64 archives do.
std::string RawArchive(const std::vector<RawEntry>& entries, bool zip64End = false);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
void SetModified(const std::string& path, std::time_t when);
std::time_t Modified(const std::string& path);
bool Exists(const std::string& path);
bool IsSymlink(const std::string& path);
// Every path below folder (relative, sorted), folders with a trailing "/".
std::vector<std::string> Tree(const std::string& folder);

// Text like a web page's, deterministic for a seed, about size bytes.
std::string PageText(std::size_t size, unsigned seed);
// Bytes that deflate cannot shrink.
std::string NoiseBytes(std::size_t size, unsigned seed);

// What List reports, by entry name.
std::map<std::string, ZipFileStats> Listing(const std::string& archive, int* result = nullptr);

// Entry name -> compression method, straight from the central directory.
std::map<std::string, int> Methods(const std::string& archive);
// Offset of an entry's local header.
std::uint64_t LocalOffset(const std::string& archive, const std::string& entry);
// Offset of an entry's data (behind its local header).
std::uint64_t DataOffset(const std::string& archive, const std::string& entry);
// Offset of an entry's central directory record.
std::uint64_t CentralOffset(const std::string& archive, const std::string& entry);

bool HaveProgram(const std::string& name);
// Runs a shell command; its exit status, and its standard output in out.
int RunCommand(const std::string& command, std::string* out = nullptr);
std::string Quote(const std::string& text);
// Python's zipfile on the archive: one line per entry, "name|size|method|comment
// in hex", or "ERROR ..." when zipfile refuses the archive or testzip() finds
// a bad entry.
std::string PythonListing(const std::string& archive);
// The same lines in sorted order, for comparing entry sets.
std::string SortedPythonListing(const std::string& archive);
// The line PythonListing gives for one entry.
std::string PythonLine(const std::string& name, std::uint64_t size, int method, const std::string& comment);

}  // namespace ziptest
