// vorlund-field-docs: writes the parameter reference (docs/parameters.md) from the field
// table, or with --check tells whether a committed copy is current, so the page cannot drift
// from the record.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "common/field_reference.h"

int main(int argc, char** argv) {
  const std::string reference = vorlund::fieldReferenceMarkdown();
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc == 1) {
    std::cout << reference;
    return 0;
  }
  if (mode == "--check" && argc == 3) {
    std::ifstream committed(argv[2], std::ios::binary);
    std::stringstream text;
    text << committed.rdbuf();
    if (committed && text.str() == reference) return 0;
    std::cerr << argv[2] << " is stale: regenerate it with 'vorlund-field-docs " << argv[2]
              << "' (target parameters-doc)\n";
    return 1;
  }
  if (argc == 2 && !mode.starts_with("-")) {
    std::ofstream out(argv[1], std::ios::binary);
    out << reference;
    if (out.flush()) return 0;
    std::cerr << "cannot write " << argv[1] << "\n";
    return 1;
  }
  std::cerr << "usage: vorlund-field-docs [FILE | --check FILE]\n";
  return 2;
}
