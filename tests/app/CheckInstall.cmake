# Installs the build into a fresh prefix and checks what a desktop needs of
# it: the program answering --help, its resources where it looks for them,
# the desktop entries with the types they open and its icon, those types
# declared, the description software centres read, and the man pages.
#   cmake -DBUILD=<build dir> -P CheckInstall.cmake
set(prefix ${BUILD}/install-check)
file(REMOVE_RECURSE ${prefix})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix}
                RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${err}")
endif()
foreach(f bin/kantelo share/kantelo/Startup_image.jpg share/kantelo/InitialFrames.ktframes
          share/applications/com.velmoorsoft.Kantelo.desktop share/mime/packages/kantelo.xml
          bin/passlet share/applications/com.velmoorsoft.Kantelo.Passlet.desktop bin/retouchlet
          share/kantelo/Kantelo_Manual.pdf share/metainfo/com.velmoorsoft.Kantelo.metainfo.xml
          share/icons/hicolor/scalable/apps/com.velmoorsoft.Kantelo.svg
          share/icons/hicolor/48x48/apps/com.velmoorsoft.Kantelo.png
          share/icons/hicolor/256x256/apps/com.velmoorsoft.Kantelo.png
          share/man/man1/kantelo.1 share/man/man1/retouchlet.1 share/man/man1/passlet.1)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()

execute_process(COMMAND ${prefix}/bin/kantelo --help RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "Usage: kantelo")
  message(FATAL_ERROR "kantelo --help answered ${rc}: ${out}")
endif()

file(READ ${prefix}/share/applications/com.velmoorsoft.Kantelo.desktop entry)
foreach(line "Exec=kantelo %F" "image/jpeg;" "image/heic;" "image/vnd.adobe.photoshop;" "application/pdf;"
             "application/x-kantelo-frames;" "application/x-kantelo-template;")
  string(FIND "${entry}" "${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "the desktop entry lacks ${line}")
  endif()
endforeach()

# The hand-off program is offered for every picture type Kantelo opens.
file(READ ${prefix}/share/applications/com.velmoorsoft.Kantelo.Passlet.desktop entry)
foreach(line "Exec=passlet %F" "image/jpeg;" "image/png;" "image/tiff;" "image/heic;" "image/heif;"
             "image/vnd.adobe.photoshop;" "image/gif;" "image/bmp;" "image/webp;")
  string(FIND "${entry}" "${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "the hand-off's desktop entry lacks ${line}")
  endif()
endforeach()

# What desktops and software centres check; both entries show the icon.
foreach(entry com.velmoorsoft.Kantelo.desktop com.velmoorsoft.Kantelo.Passlet.desktop)
  file(READ ${prefix}/share/applications/${entry} text)
  if(NOT text MATCHES "\nIcon=com.velmoorsoft.Kantelo\n")
    message(FATAL_ERROR "${entry} names no icon")
  endif()
  execute_process(COMMAND desktop-file-validate ${prefix}/share/applications/${entry}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT "${out}${err}" STREQUAL "")
    message(FATAL_ERROR "desktop-file-validate ${entry}: ${out}${err}")
  endif()
endforeach()
execute_process(COMMAND appstreamcli validate --no-net ${prefix}/share/metainfo/com.velmoorsoft.Kantelo.metainfo.xml
                RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "appstreamcli validate: ${out}${err}")
endif()
foreach(page kantelo retouchlet passlet)
  execute_process(COMMAND groff -man -ww -z ${prefix}/share/man/man1/${page}.1
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT err STREQUAL "")
    message(FATAL_ERROR "the man page ${page}(1) has faults: ${err}")
  endif()
endforeach()
file(READ ${prefix}/share/icons/hicolor/scalable/apps/com.velmoorsoft.Kantelo.svg svg)
if(NOT svg MATCHES "<svg[^>]*viewBox=\"0 0 512 512\"")
  message(FATAL_ERROR "the scalable icon is no SVG")
endif()

# The manual is a real guide, not a stub.
find_program(PDFINFO pdfinfo)
if(PDFINFO)
  execute_process(COMMAND ${PDFINFO} ${prefix}/share/kantelo/Kantelo_Manual.pdf OUTPUT_VARIABLE info RESULT_VARIABLE rc)
  string(REGEX MATCH "Pages: +([0-9]+)" pages "${info}")
  if(NOT rc EQUAL 0 OR CMAKE_MATCH_1 LESS 8)
    message(FATAL_ERROR "the manual has too few pages: ${info}")
  endif()
endif()

# The declared types build into a mime database that finds the archives.
find_program(UPDATE_MIME update-mime-database)
if(UPDATE_MIME)
  execute_process(COMMAND ${UPDATE_MIME} ${prefix}/share/mime RESULT_VARIABLE rc ERROR_VARIABLE err)
  file(READ ${prefix}/share/mime/globs2 globs)
  if(NOT rc EQUAL 0 OR NOT globs MATCHES "application/x-kantelo-frames:\\*\\.ktframes")
    message(FATAL_ERROR "the file types do not build: ${err}")
  endif()
endif()
file(REMOVE_RECURSE ${prefix})
