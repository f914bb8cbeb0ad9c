// Names a Windows system can hold: the checks every stored name passes
// before the packer writes anything, and the renaming that makes a refused
// name acceptable the way the stub repairs names (a refused character
// becomes "_", CR and LF are dropped, a device name gets "_" in front), so
// that what the packer reports is what the stub creates.
#ifndef SFX_TOOLS_SFXPACK_PACK_NAME_CHECK_H_
#define SFX_TOOLS_SFXPACK_PACK_NAME_CHECK_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sfxpack {

// What is wrong with one component of a name (bits).
enum NameProblem : unsigned {
  kNotUtf8 = 1u << 0,         // bytes that are not UTF-8
  kForbiddenChar = 1u << 1,   // < > : " | ? * or a backslash
  kControlChar = 1u << 2,     // a byte 1 to 31
  kTrailingDotSpace = 1u << 3,  // ends in "." or " ", which Windows drops
  kDeviceName = 1u << 4,      // CON, NUL, COM1, LPT1, ... alone or with "."
  kTooLong = 1u << 5,         // more than 255 UTF-16 units
  kCaseCollision = 1u << 6,   // equal to a sibling's name, case ignored
};

// The longest component Windows holds, in UTF-16 units.
constexpr size_t kMaxComponentUnits = 255;

// The problems of one component (a name without "/"), kCaseCollision aside.
unsigned componentProblems(const std::string& component);

// A readable list of the problems in `problems`, such as
// "':' is not allowed; ends in a dot or space".
std::string describeProblems(unsigned problems);

// The component with every problem that componentProblems reports mended:
// bytes that are not UTF-8 and the characters Windows refuses (a backslash
// and controls included) become "_", CR and LF are removed as the stub
// removes them, each trailing dot or space becomes "_", a device name gets
// "_" in front, and an overlong name is cut to 255 UTF-16 units keeping a
// short extension. The result is never empty and has no problems.
std::string repairComponent(const std::string& component);

// The UTF-16 length of a UTF-8 text (an invalid byte counts as one unit).
size_t utf16Units(const std::string& utf8);

// The key two names share when NTFS holds them as the same name: the UTF-8
// text with every code unit of the Basic Multilingual Plane replaced by
// its simple case folding.
std::string foldedName(const std::string& utf8);

// One name of the tree to be stored: a component below its parent.
struct NameNode {
  size_t parent;          // index of the parent directory, or kNoParent
  std::string component;  // the name below the parent; changed by renaming
  std::string source;     // the file it comes from, for messages
};
constexpr size_t kNoParent = static_cast<size_t>(-1);

// One finding: the node, what is wrong, and (after renaming) its new name.
struct NameIssue {
  size_t node;
  unsigned problems;
  std::string oldName;      // the stored path before renaming
  std::string newName;      // the stored path after renaming ("" if none)
  std::string collidesWith;  // kCaseCollision: the sibling's source
};

// The stored path of node `i`: its parents' components and its own,
// joined with "/".
std::string storedPath(const std::vector<NameNode>& nodes, size_t i);

// Checks every node (parents come before their children) and returns the
// findings in node order. Siblings collide when their folded names are
// equal; the first of them keeps its name. With `rename`, each refused
// component is replaced by repairComponent's result and a collision by the
// name with "~2", "~3", ... before its extension, so that no two siblings
// collide afterwards; names that needed no change are kept, and renamed
// nodes take what is left. Each finding then carries the new stored path.
std::vector<NameIssue> checkNames(std::vector<NameNode>* nodes, bool rename);

// The text with bytes below 32 and bytes that are not UTF-8 written as C
// escapes ("\n", "\x01", "\xff"), so that any name prints on one line.
std::string printableName(const std::string& text);

}  // namespace sfxpack

#endif  // SFX_TOOLS_SFXPACK_PACK_NAME_CHECK_H_
