# Installs the build into a fresh prefix and checks what a desktop needs of
# it: the program answering --help, its resources where it looks for them,
# the desktop entries with the types they open, and those types declared.
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
          bin/passlet share/applications/com.velmoorsoft.Kantelo.Passlet.desktop bin/retouchlet)
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
