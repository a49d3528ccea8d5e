// What the lines of an install record may name. A record lies in the package's folder, which other
// users may be able to write (the public documents folder on Windows), so nothing it lists is
// acted on before it is checked here: a line names only what a turn of the installer could have
// written, for the IDE installation the record belongs to. A record whose text still matches the
// checksum that the user's registry keeps (Installer/RecordStore.h) is one the installer wrote; any
// other (a changed record, one an earlier version wrote without a checksum, a journal) may name
// only what lies below its own folder.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Package/IdeInstallation.h"
#include "Package/InstallRecord.h"

namespace quillet {

enum class RecordTrust {
  Verified,   // the installer's own text, as the checksum in the user's registry proves
  Unverified, // a journal, a changed record or one without a checksum: its folder only
};

// Where the turns of one IDE installation write besides the record's folder.
struct RecordScope {
  // The installation whose keys the record may name; none for a turn without an IDE.
  std::optional<IdeInstallation> installation;
  // The folders where the IDE keeps built packages (.bpl, .dcp, .bpi, .lib, .hpp), full and
  // ending in "\".
  std::vector<std::string> outputFolders;
};

// Whether `path` lies at or below `folder` (a full path ending in "\"), judged on the text: the
// folder's text begins the path's, ignoring ASCII letter case and taking "/" as "\", and every
// name after it is a plain one (not empty, ".", "..", a drive or a stream, nor one that Windows
// would hold under another name).
bool LiesAtOrBelow(std::string_view path, std::string_view folder);

// Takes out of `part` every line it may not name, with one line of text for each in `refused`.
void ConfineRecord(InstallRecord& part, RecordTrust trust, const RecordScope& scope,
                   std::vector<std::string>& refused);

} // namespace quillet
