// Fuzz target for the checks of names Windows can hold and their repair.
// The input is a set of sibling names (NUL-separated; a name starting with
// "/" is a child of the previous top-level name). Besides returning for any
// bytes: every name --rename produces must pass the same checks, no two
// siblings may be equal when case is ignored, and a second check finds
// nothing.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "pack/name_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  std::vector<sfxpack::NameNode> nodes;
  size_t lastTop = sfxpack::kNoParent;
  std::string text(reinterpret_cast<const char*>(data), size);
  size_t at = 0;
  while (at <= text.size() && nodes.size() < 64) {
    size_t end = text.find('\0', at);
    if (end == std::string::npos) end = text.size();
    std::string name = text.substr(at, end - at);
    at = end + 1;
    size_t parent = sfxpack::kNoParent;
    if (!name.empty() && name[0] == '/' && lastTop != sfxpack::kNoParent) {
      parent = lastTop;
      name.erase(0, 1);
    }
    if (name.empty() || name.find('/') != std::string::npos) continue;
    if (parent == sfxpack::kNoParent) lastTop = nodes.size();
    nodes.push_back({parent, name, name});
  }
  for (const sfxpack::NameNode& n : nodes) {
    std::string repaired = sfxpack::repairComponent(n.component);
    unsigned p = sfxpack::componentProblems(repaired);
    if (p != 0) {
      fprintf(stderr, "repairComponent('%s') = '%s' has problems %s\n",
              sfxpack::printableName(n.component).c_str(),
              sfxpack::printableName(repaired).c_str(),
              sfxpack::describeProblems(p).c_str());
      abort();
    }
  }
  std::vector<sfxpack::NameNode> renamed = nodes;
  sfxpack::checkNames(&renamed, true);
  std::set<std::pair<size_t, std::string>> siblings;
  for (const sfxpack::NameNode& n : renamed) {
    unsigned p = sfxpack::componentProblems(n.component);
    if (p != 0 ||
        !siblings.insert({n.parent, sfxpack::foldedName(n.component)}).second) {
      fprintf(stderr, "renamed to '%s': %s\n",
              sfxpack::printableName(n.component).c_str(),
              p ? sfxpack::describeProblems(p).c_str() : "a sibling's twin");
      abort();
    }
  }
  if (!sfxpack::checkNames(&renamed, false).empty()) {
    fprintf(stderr, "the renamed set fails the checks again\n");
    abort();
  }
  return 0;
}
