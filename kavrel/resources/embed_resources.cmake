# Writes a C++ source holding the module's binary resources as byte arrays.
#   cmake -DOUT=<file.cpp> -DSOURCE_DIR=<dir> -DENTRIES="id;type;file;id;type;file;..." -P embed_resources.cmake
# Each entry is a resource identifier, its type ("PNG", "BITMAP", ...) and a file below SOURCE_DIR.
list(LENGTH ENTRIES count)
math(EXPR last "${count} - 1")
set(arrays "")
set(table "")
set(index 0)
foreach(i RANGE 0 ${last} 3)
  math(EXPR t "${i} + 1")
  math(EXPR f "${i} + 2")
  list(GET ENTRIES ${i} id)
  list(GET ENTRIES ${t} type)
  list(GET ENTRIES ${f} file)
  file(READ "${SOURCE_DIR}/${file}" hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n  " bytes "${bytes}")
  string(APPEND arrays "// ${file}\nconst uint8_t resource_${index}[${size}] = {\n  ${bytes}\n};\n\n")
  string(APPEND table "    {${id}, \"${type}\", resource_${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE "${OUT}.tmp"
"// Generated from the files under kavrel/resources by embed_resources.cmake; do not edit.
#include \"kavrel/resources/module_resources.h\"

namespace kavrel::resources {
namespace {

${arrays}}  // namespace

const EmbeddedResource kEmbeddedResources[] = {
${table}};
const size_t kEmbeddedResourceCount = sizeof kEmbeddedResources / sizeof kEmbeddedResources[0];

}  // namespace kavrel::resources
")
# Only a changed text touches the output, so an unchanged picture set rebuilds nothing.
file(COPY_FILE "${OUT}.tmp" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.tmp")
