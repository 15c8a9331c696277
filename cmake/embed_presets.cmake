# Writes OUTPUT, a C++ source holding every PRESETS_DIR/*.vrl as text, so that the tools carry
# the shipped presets inside them. Run at build time: cmake -DPRESETS_DIR=... -DOUTPUT=... -P
file(GLOB presets "${PRESETS_DIR}/*.vrl")
list(SORT presets)
set(entries "")
foreach(preset IN LISTS presets)
  get_filename_component(name "${preset}" NAME_WE)
  file(READ "${preset}" text)
  string(APPEND entries "    {\"${name}\", R\"vorlund-preset(${text})vorlund-preset\"},\n")
endforeach()
file(WRITE "${OUTPUT}.new"
  "// Generated from the presets folder at build time; do not edit.\n"
  "#include \"common/preset_library.h\"\n\n"
  "namespace vorlund {\n\n"
  "std::span<const ShippedPreset> shippedPresets() {\n"
  "  static constexpr ShippedPreset kPresets[] = {\n${entries}  };\n"
  "  return kPresets;\n}\n\n}  // namespace vorlund\n")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
