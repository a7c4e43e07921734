# Makes the release zip and its checksums: cmake -P dist.cmake with
#   VERSION       the project's version
#   RELEASE_DATE  the entries' date (YYYY-MM-DD) when SOURCE_DATE_EPOCH is unset
#   EXE           the built Kestrine.exe
#   MAP           its link map
#   SOURCE_DIR    the project's sources
#   OUTPUT_DIR    where the zip and SHA256SUMS go
#   PYTHON        a Python 3 interpreter
#
# The zip's bytes depend on the sources and the toolchain only: entries in a
# fixed order with one date and fixed permissions, whatever the folder, umask,
# time zone or clock of the build.

set(package Kestrine-${VERSION}-windows-x86_64)
set(stage ${OUTPUT_DIR}/stage)
set(folder ${stage}/${package})
file(REMOVE_RECURSE ${stage})
file(MAKE_DIRECTORY ${folder})

# Notepad and `type` want CR LF.
function(write_crlf path text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  file(WRITE ${path} "${text}")
endfunction()

# README.txt is the Windows user's part of README.md, as plain text.
file(READ ${SOURCE_DIR}/README.md readme)
string(REGEX MATCH
  "<!-- windows-readme: begin -->\n(.*)<!-- windows-readme: end -->"
  found "${readme}")
if(NOT found)
  message(FATAL_ERROR "README.md has no windows-readme block")
endif()
set(readme "${CMAKE_MATCH_1}")
string(REGEX REPLACE "```[a-z]*\n" "" readme "${readme}")
string(REPLACE "`" "" readme "${readme}")
string(REGEX REPLACE "(^|\n)## " "\\1" readme "${readme}")
set(title "Kestrine ${VERSION}")
write_crlf(${folder}/README.txt "${title}\n\n${readme}")

file(READ ${SOURCE_DIR}/LICENSE license)
write_crlf(${folder}/LICENSE.txt "${license}")

execute_process(
  COMMAND ${PYTHON} ${SOURCE_DIR}/tools/third_party_notices.py ${MAP}
          ${stage}/notices.txt
  RESULT_VARIABLE notices_result)
if(NOT notices_result EQUAL 0)
  message(FATAL_ERROR "cannot derive the third-party notices from ${MAP}")
endif()
file(READ ${stage}/notices.txt notices)
file(REMOVE ${stage}/notices.txt)
write_crlf(${folder}/THIRD-PARTY-NOTICES.txt "${notices}")

file(COPY_FILE ${EXE} ${folder}/Kestrine.exe)

if(DEFINED ENV{SOURCE_DATE_EPOCH})
  # string(TIMESTAMP) reads SOURCE_DATE_EPOCH in place of the clock.
  string(TIMESTAMP date "%Y-%m-%d %H:%M:%S" UTC)
else()
  set(date "${RELEASE_DATE} 00:00:00")
endif()
# Written by our own script: CMake's zip writer records the builder's user
# and the files' access and change times.
set(zip ${OUTPUT_DIR}/${package}.zip)
file(REMOVE ${zip})
execute_process(
  COMMAND ${PYTHON} ${SOURCE_DIR}/tools/zip_release.py ${zip} "${date}" ${stage}
          ${package}/Kestrine.exe ${package}/README.txt ${package}/LICENSE.txt
          ${package}/THIRD-PARTY-NOTICES.txt
  RESULT_VARIABLE zip_result)
if(NOT zip_result EQUAL 0)
  message(FATAL_ERROR "cannot write ${zip}")
endif()

file(REMOVE_RECURSE ${stage})
file(SHA256 ${zip} checksum)
file(WRITE ${OUTPUT_DIR}/SHA256SUMS "${checksum}  ${package}.zip\n")
message(STATUS "${zip}\n   sha256 ${checksum}")
