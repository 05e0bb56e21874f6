#pragma once
// Message-table numbers of the site book's texts, kept together.
#include <QString>

namespace SiteBookMessages {
constexpr int NotRecorded = 245;        // site book: not recorded (%1); kept for later in %2
constexpr int NotKept = 246;            // site book: not recorded (%1); it could not be kept either (%2)
constexpr int PasswordInArgument = 247; // a password in --site-book would show in the list of processes
constexpr int BadUrl = 248;             // not a site book URL
constexpr int NotASiteBook = 249;       // a file that is no site book: left as it is
constexpr int NewerSchema = 250;        // made by a newer program (schema %1, this one knows %2)
constexpr int LinkInPlace = 251;        // a link stands in the book's place
constexpr int FolderNotOwn = 252;       // the book's folder is not this user's alone
constexpr int IsAFolder = 253;          // a folder stands in the book's place
constexpr int Off = 254;                // the site book is off
constexpr int NoBookYet = 255;          // there is no site book there yet
constexpr int CannotOpen = 256;         // the site book could not be opened
constexpr int CannotWrite = 257;        // the site book could not be written
constexpr int PendingNotOwn = 258;      // the pending file is not this user's own regular file
constexpr int NulInFilter = 259;        // a filter cannot hold a NUL character
} // namespace SiteBookMessages

// A site book text from the message table.
QString SiteBookText(int n);
