// site/init.h: `wyn init [FOLDER]`, a new site that builds cleanly at once.
//
// The starter site is built into the program: the build turns the folder
// starter/ of the source tree, with the fonts, their licences and the
// favicon it makes from packages, into the table starter_files (a
// generated .cpp of byte arrays), so a wyn copied alone to another machine
// can still start a site. Paths in the table are relative to the site's
// folder ("local/shared/css/fonts.css").
//
// A site is written whole or not at all: every file goes into a temporary
// folder inside FOLDER, which is renamed to FOLDER/local/ once the last file
// is written; a failure removes the temporary folder, and FOLDER too when
// init made it. A FOLDER that holds a local/ already is a site someone
// made: init writes no document there and replaces no file, but adds the
// files its pages load that it lacks (the font and icon style sheets, the
// fonts, the favicon), so a site begun by hand gets its fonts and icons.
//
// Main thread, once; nothing else runs. Failure is a message, never an
// exception.
#pragma once
#include "site/diagnostics.h"
#include "site/options.h"

struct StarterFile {
    Str path;    // below the site's folder, forward slashes
    Str bytes;
};

// The generated table; only the program's entry links it.
extern const StarterFile starter_files[];
extern const u64 starter_file_count;

// The text "@TODAY@" in a starter document becomes this date, so a new
// site's first pages are dated the day it was made.
extern const Str starter_today_marker;

struct InitResult {
    b32 ok;
    b32 completed;      // FOLDER held a site: only what its pages load and it lacked was added
    u64 files_written;
    StrList added;      // completed: the files added, below FOLDER
    Str local_folder;   // FOLDER/local/, where the site went (or would have)
    Str problem;        // why nothing (or no more) was written; empty when ok
};

// Whether a starter file is one that every page loads (named by the head
// wyn generates), rather than the site's documents, menus or own rules.
bool starter_file_is_page_asset(Str path);

// Writes `files` into `folder` (absolute, forward slashes) as described
// above; `today` replaces the date marker in .wyn files. Results on `arena`.
InitResult site_init(Arena *arena, Str folder, const StarterFile *files, u64 count, Str today);

// The command: runs site_init on config->init_folder with today's date,
// prints the outcome (the result on standard output, a refusal as an
// error) and returns the process status, 0 or 1.
int site_init_command(const SiteConfig *config, const DiagPrintSettings *print, const StarterFile *files, u64 count);
