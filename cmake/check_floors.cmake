# Checks that no source includes across the floors of docs/architecture.md.
#
#   cmake -DSOURCE_DIR=<project> -P cmake/check_floors.cmake
#
# The floors are read from the table under "## Floors" in
# docs/architecture.md (rows "| <floor> | `<folder>` | ..."), so the page and
# the check cannot drift apart. A file of a folder may include its own folder
# and the folders of lower floors; two folders on one floor never include each
# other. The folder of a file is the first part of its path under src/ (or
# cli/); an include is judged by its first path part, unless it names a file
# beside the including one. A folder of the table that does not exist yet is
# simply empty. Each wrong include is reported as file:line, and the script
# fails when there is any.

if(NOT SOURCE_DIR)
  message(FATAL_ERROR "check_floors: pass -DSOURCE_DIR=<project folder>")
endif()
get_filename_component(SOURCE_DIR "${SOURCE_DIR}" ABSOLUTE)
set(table_file "${SOURCE_DIR}/docs/architecture.md")

# ---- The floors table --------------------------------------------------------
file(STRINGS "${table_file}" rows REGEX "^\\| *[0-9]+ *\\| *`[a-z0-9_]+/?` *\\|")
set(folders "")
foreach(row IN LISTS rows)
  string(REGEX REPLACE "^\\| *([0-9]+) *\\| *`([a-z0-9_]+)/?`.*" "\\1;\\2" parts "${row}")
  list(GET parts 0 floor)
  list(GET parts 1 folder)
  set(floor_of_${folder} ${floor})
  list(APPEND folders ${folder})
endforeach()
list(LENGTH folders folder_count)
if(folder_count LESS 3)
  message(FATAL_ERROR "check_floors: no floors table found in ${table_file}")
endif()

# ---- The sources -------------------------------------------------------------
file(GLOB_RECURSE sources LIST_DIRECTORIES false RELATIVE "${SOURCE_DIR}"
     "${SOURCE_DIR}/src/*.h" "${SOURCE_DIR}/src/*.hpp" "${SOURCE_DIR}/src/*.c" "${SOURCE_DIR}/src/*.cpp"
     "${SOURCE_DIR}/src/*.inc" "${SOURCE_DIR}/cli/*.h" "${SOURCE_DIR}/cli/*.cpp" "${SOURCE_DIR}/cli/*.inc")
list(SORT sources)
if(NOT sources)
  message(FATAL_ERROR "check_floors: no sources under ${SOURCE_DIR}/src")
endif()

set(faults "")
set(checked 0)
foreach(source IN LISTS sources)
  if(source MATCHES "^cli/")
    set(folder cli)
  else()
    string(REGEX REPLACE "^src/([^/]+)/.*" "\\1" folder "${source}")
    if(folder STREQUAL source)  # a file directly in src/
      continue()
    endif()
  endif()
  if(NOT DEFINED floor_of_${folder})
    list(APPEND faults "${source}:1: folder '${folder}' has no floor in docs/architecture.md")
    continue()
  endif()
  get_filename_component(source_dir "${SOURCE_DIR}/${source}" DIRECTORY)

  # Lines are numbered by hand: characters that mean something to CMake lists
  # are masked first.
  file(READ "${SOURCE_DIR}/${source}" text)
  string(REPLACE "\\" "/" text "${text}")
  string(REPLACE ";" "," text "${text}")
  string(REPLACE "[" "(" text "${text}")
  string(REPLACE "]" ")" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(line_number 0)
  foreach(line IN LISTS lines)
    math(EXPR line_number "${line_number} + 1")
    if(NOT line MATCHES "^[ \t]*#[ \t]*include[ \t]*\"([^\"]+)\"")
      continue()
    endif()
    set(included "${CMAKE_MATCH_1}")
    math(EXPR checked "${checked} + 1")
    if(EXISTS "${source_dir}/${included}" OR NOT included MATCHES "/")
      continue()  # beside the including file, or a public header of include/
    endif()
    string(REGEX REPLACE "/.*" "" target "${included}")
    if(target STREQUAL folder)
      continue()
    endif()
    if(NOT DEFINED floor_of_${target})
      list(APPEND faults "${source}:${line_number}: includes \"${included}\": '${target}' has no floor")
    elseif(NOT floor_of_${target} LESS floor_of_${folder})
      list(APPEND faults "${source}:${line_number}: ${folder} (floor ${floor_of_${folder}}) includes \"${included}\" of ${target} (floor ${floor_of_${target}})")
    endif()
  endforeach()
endforeach()

list(LENGTH sources source_count)
list(LENGTH faults fault_count)
foreach(fault IN LISTS faults)
  message("${fault}")
endforeach()
if(fault_count GREATER 0)
  message(FATAL_ERROR "check_floors: ${fault_count} include(s) across the floors")
endif()
message("check_floors: ${checked} includes of ${source_count} files keep to ${folder_count} floors")
