// What the exclusion-list and IP-filter dialogs do to their tables, without the dialogs: an
// edited copy, the entries made from the entry dialogs' fields, the rows the list shows, and the
// saved file. The Win32 dialog procedures only move values between controls and these.
#pragma once

#include <string>
#include <vector>

#include "filters/exclusion.h"

namespace qvx {

enum class FilterKind { kExclusion, kIpAddress };

// A copy of one filter table. Edits happen here; FilterTableSwapIn puts the copy in force.
struct FilterTable {
  char Data[kFilterEntries][kFilterLineSize];
  int No;
};

// The live table of kind, copied under the lock.
void FilterTableGet(FilterKind kind, FilterTable* out);
// Replaces the live table of kind with t under the lock, so that the capture thread sees the old
// table or the new one, never a half-edited one.
void FilterTableSwapIn(FilterKind kind, const FilterTable& t);

// Whether the filter applies the entry today (the exclusion list needs ValidFlg '1', the IP
// filter anything but '0'; both need today within the period).
bool FilterEntryInForce(FilterKind kind, const char* entry);

// The texts of the list row of entry i: No., State, Surveillance conditions, Term of validity,
// then "Useful range" and "Monitor path" (exclusion) or "IPaddres" (IP filter).
std::vector<std::string> FilterRowTexts(FilterKind kind, const FilterTable& t, int i);

// Deletes the given rows (any order, duplicates ignored), renumbering the entries after them.
void FilterDeleteRows(FilterTable* t, std::vector<int> rows);

// Enable (valid true) or Disable for each given row whose term is not over.
void FilterSetValid(FilterKind kind, FilterTable* t, const std::vector<int>& rows, bool valid);

// The fields of an entry dialog as typed or picked.
struct FilterEntryFields {
  bool term = false;  // "Term of validity" rather than "Indefinite"
  std::string sYear, sMon, sDay, eYear, eMon, eDay;
  int KanshiJogaiInfoFlg = 0;  // 0 exclusion, 1 surveillance
  std::string path;            // exclusion entry
  std::string octet[4];        // IP entry
  int MatchKind = 0;           // exclusion: 0 file or pattern, 1 this folder, 2 and below
};

// Checks the fields; "" when they make an entry, else the message for the user (it names the
// field). A path that is an existing folder needs MatchKind 1 or 2 chosen before appending.
std::string FilterEntryCheck(FilterKind kind, const FilterEntryFields& f);

// Appends the entry made from checked fields at the end of t. False when t is full.
bool FilterEntryAppend(FilterKind kind, FilterTable* t, const FilterEntryFields& f);

// Writes t to path in the file's own line format (lines ending CR CR LF), flushing after each
// line. False when the file cannot be written.
bool FilterTableSave(FilterKind kind, const FilterTable& t, const char* path);

// The file the dialog of kind saves to (where start-up read it).
const char* FilterFilePath(FilterKind kind);

}  // namespace qvx
