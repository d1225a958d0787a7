#pragma once

class CFile;

// Sets (Prefetch off) or clears (Prefetch on) the read-only bit of the prefetch layout file by
// rewriting it through a temporary copy. Both file objects belong to the caller and are handed
// in unopened; a file error escapes as CFileException.
void ProtectLayoutFile(bool prefetchOn, CFile& layoutFile, CFile& copyFile);
