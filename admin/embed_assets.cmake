# Writes OUTPUT: a C++ file that holds the bytes of each file in ASSETS (a ;-list of paths) for
# admin::FindAsset, so that the console serves its script and style sheet from its own binary
# and no file of the disk ever.
set(entries "")
set(arrays "")
set(index 0)
foreach(path ${ASSETS})
  get_filename_component(name ${path} NAME)
  get_filename_component(ext ${path} EXT)
  if(ext STREQUAL ".js")
    set(type "text/javascript; charset=utf-8")
  elseif(ext STREQUAL ".css")
    set(type "text/css; charset=utf-8")
  elseif(ext STREQUAL ".svg")
    set(type "image/svg+xml")
  else()
    message(FATAL_ERROR "embed_assets: no content type for ${name}")
  endif()
  file(READ ${path} hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "const unsigned char kAsset${index}[] = {${bytes}0};\n")
  string(APPEND entries "    {\"${name}\", \"${type}\", kAsset${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.new "// Made by admin/embed_assets.cmake from admin/assets/; do not edit.
#include <string_view>

#include \"admin/console_internal.h\"

namespace admin {
namespace {
${arrays}
const Asset kAssets[] = {
${entries}};
}  // namespace

const Asset* FindAsset(std::string_view name) {
  for (const Asset& asset : kAssets) {
    if (name == asset.name) return &asset;
  }
  return nullptr;
}

}  // namespace admin
")
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
