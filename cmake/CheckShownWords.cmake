# Fails when a text in the sources names another desktop platform: the
# application runs on Linux desktops and speaks of "the computer", "the file
# manager" and "the system tray".
#   cmake -DSOURCE_DIR=<top of the source tree> -P CheckShownWords.cmake
set(word "Mac|Mac's|Mac’s|Finder|macOS|menu bar|Image Capture|Android File Transfer, Image")
file(GLOB_RECURSE sources ${SOURCE_DIR}/src/*.cpp ${SOURCE_DIR}/src/*.h ${SOURCE_DIR}/data/*.desktop)
set(faults "")
cmake_policy(SET CMP0007 NEW)
foreach(source ${sources})
  # A line with the word inside a string literal, or any line of a desktop entry.
  file(STRINGS ${source} lines ENCODING UTF-8
       REGEX "(\"|=)([^\"]*[^A-Za-z_\"])?(${word})([^A-Za-z_][^\"]*)?(\"|$)")
  foreach(line ${lines})
    string(STRIP "${line}" stripped)
    if(stripped MATCHES "^//")
      continue()
    endif()
    file(RELATIVE_PATH shown ${SOURCE_DIR} ${source})
    string(APPEND faults "\n  ${shown}: ${stripped}")
  endforeach()
endforeach()
if(faults)
  message(FATAL_ERROR "Texts that name another platform:${faults}")
endif()
