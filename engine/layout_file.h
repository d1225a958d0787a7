#pragma once

#include "engine/pair_outcome.h"

class CFile;

struct LayoutFileOptions {
    // Leave a file whose read-only bit is already as asked alone, without opening it.
    bool onlyWhenDifferent = false;
    // Make the temporary copy in the layout file's own folder rather than in the current
    // directory, which may be read-only or shared by many PCs.
    bool copyBesideLayoutFile = false;
};

// Sets (Prefetch off) or clears (Prefetch on) the read-only bit of the prefetch layout file by
// rewriting it through a temporary copy. Both file objects belong to the caller and are handed
// in unopened; a file error escapes as CFileException. Failed when a layout file exists but its
// read-only bit is not what Prefetch asks for afterwards (held open elsewhere, no room for the
// copy, ...); Unchanged when there is no layout file, or (with onlyWhenDifferent) its bit was
// already as asked.
PairOutcome ProtectLayoutFile(bool prefetchOn, CFile& layoutFile, CFile& copyFile,
                              const LayoutFileOptions& options = {});
