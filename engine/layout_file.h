#pragma once

class CFile;

// Sets (Prefetch off) or clears (Prefetch on) the read-only bit of the prefetch layout file by
// rewriting it through a temporary copy. Both file objects belong to the caller and are handed
// in unopened; a file error escapes as CFileException. False when a layout file exists but its
// read-only bit is not what Prefetch asks for (held open elsewhere, no room for the copy, ...).
bool ProtectLayoutFile(bool prefetchOn, CFile& layoutFile, CFile& copyFile);
