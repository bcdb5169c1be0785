#pragma once

#include <string>
#include <string_view>
#include <vector>

// Starting the help viewer: its command line, how that line splits into
// arguments, where the viewer is found and how it is started. Paths are byte
// strings as the file system spells them. Any thread.
namespace help {

// The viewer's name: the first word of every help command line.
inline constexpr std::string_view kViewerName = "hh";

// The topic that a help command or a dialog's help context opens: empty for
// Contents, F1 outside such a dialog (id 0) and any other id.
std::string_view TopicFor(int id);

// True when the path's attributes can be read, whatever it names.
bool HelpFileExists(const std::string& path);

// hh "<helpPath>" without a topic, hh "<helpPath>::/<topic>" with one. The
// quoted part becomes exactly one argument under SplitCommandLine: a double
// quote inside it, and the backslashes before one, are escaped.
std::string HelpCommandLine(std::string_view helpPath, std::string_view topic);

// Splits a command line into words the way the C runtime's startup code on
// the platform this line format comes from does: blanks separate words
// outside double quotes; 2n backslashes before a quote give n backslashes and
// the quote toggles quoting; 2n+1 give n backslashes and a literal quote;
// other backslashes are literal.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// Where a program given by name is found: a name with a '/' is used as it
// is; otherwise the first existing non-folder entry called name in
// firstFolder, then in each folder of searchPath (':'-separated, an empty
// entry meaning the current folder). Empty when there is none.
std::string FindProgram(std::string_view name, std::string_view firstFolder,
                        std::string_view searchPath);

// The environment variable through which the viewer learns which window it
// should leave visible: "x,y,width,height,left,top,right,bottom", that
// window's frame on the screen and the window manager's margins around its
// contents. The command line keeps its one format.
inline constexpr std::string_view kKeepVisibleVariable = "MAGNOVA_HELP_KEEP_VISIBLE";

// Starts program with args (args[0] is the name it sees) as a process of its
// own that nobody waits for: it is not this process's child and outlives it.
// It gets this process's environment with each "NAME=value" of settings put
// in. Returns 0 once the program runs, else the errno that stopped it.
int StartDetached(const std::string& program, const std::vector<std::string>& args,
                  const std::vector<std::string>& settings = {});

// The platform's text for an errno value.
std::string ErrorText(int error);

}  // namespace help
