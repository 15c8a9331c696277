// The panel's page (HTML, style sheet, script), built into the program from the files of
// page/ by cmake/embed_files.cmake, so the program serves it with nothing beside it.
#pragma once

#include <span>
#include <string_view>

namespace vorlund {

struct EmbeddedFile {
  std::string_view name;  // "index.html"
  std::string_view bytes;
};

std::span<const EmbeddedFile> embeddedFiles() noexcept;

}  // namespace vorlund
