// The answers to the folder question and what each makes of the proposed folder "C:\Proposed"
// for a package with the one entry %zel_root%sub\a.pas. Shared by the Linux end-to-end tests and
// the Wine suite, which runs both builds on every row.
#pragma once

#include <string>
#include <vector>

namespace quillet::test {

struct AnswerCase {
  const char* name;
  std::string answer;
  std::string result; // the end of a.pas's line; empty when the turn is skipped
  std::string folder; // where a.pas lands, relative to the test folder
  // The answer is not a full path: it is said and the question asked again, which the end of the
  // input (Linux) or the next answer (Wine) answers.
  bool refused = false;
};

inline std::vector<AnswerCase> AnswerCases() {
  return {
      AnswerCase{"Enter", "", "OK", "prefix/drive_c/Proposed/sub"},
      AnswerCase{"Blanks", "  \t ", "OK", "prefix/drive_c/Proposed/sub"},
      AnswerCase{"TypedAbsolute", "C:\\Typed\\Here", "OK", "prefix/drive_c/Typed/Here/sub"},
      AnswerCase{"TypedWithBlanksKeptInside", "C:\\My Lib", "OK", "prefix/drive_c/My Lib/sub"},
      AnswerCase{"TypedRelative", "rel\\dir", "OK", "prefix/drive_c/Proposed/sub", true},
      AnswerCase{"TypedRootRelative", "\\dir", "OK", "prefix/drive_c/Proposed/sub", true},
      AnswerCase{"LowerN", "n", "", ""},
      AnswerCase{"UpperN", "N", "", ""},
      // " N" is a folder, not a skip, and a relative one.
      AnswerCase{"BlankN", " N", "OK", "prefix/drive_c/Proposed/sub", true},
      // Names Windows cannot hold as written are refused on both; ".." is resolved on the text.
      AnswerCase{"TrailingSpace", "C:\\trail \\x", "could not create [C:\\trail \\x\\sub\\a.pas]",
                 ""},
      AnswerCase{"TrailingDot", "C:\\trail.\\x", "could not create [C:\\trail.\\x\\sub\\a.pas]",
                 ""},
      AnswerCase{"DeviceName", "C:\\con\\x", "could not create [C:\\con\\x\\sub\\a.pas]", ""},
      AnswerCase{"UpOutOfAMissingFolder", "C:\\up\\..\\upd\\", "OK", "prefix/drive_c/upd/sub"},
  };
}

} // namespace quillet::test
