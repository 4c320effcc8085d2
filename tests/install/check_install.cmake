# Installs into a scratch prefix and checks that everything the program and
# its launcher need is there.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD} --prefix ${PREFIX} RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "install failed: ${result}")
endif()
foreach(path
    bin/vanto bin/vanto-relay bin/vanto-table bin/vanto-start share/vanto/vanto-relay.service
    share/vanto/vanto.txt share/vanto/scales/just\ major.txt share/vanto/scales/Bohlen-Pierce.txt
    share/applications/vanto.desktop share/mime/packages/vanto-scala.xml
    share/icons/hicolor/scalable/apps/vanto.svg share/icons/hicolor/256x256/apps/vanto.png
    lib/lv2/vanto.lv2/manifest.ttl lib/lv2/vanto.lv2/vanto.ttl lib/lv2/vanto.lv2/vanto.so)
  if(NOT EXISTS "${PREFIX}/${path}")
    message(FATAL_ERROR "missing after install: ${path}")
  endif()
endforeach()
file(STRINGS ${PREFIX}/share/applications/vanto.desktop exec REGEX "^Exec=")
if(NOT exec STREQUAL "Exec=vanto-start %f")
  message(FATAL_ERROR "unexpected launcher line: ${exec}")
endif()
# The entry claims Scala scales only, never plain text: Help would otherwise
# open the guide with vanto itself.
file(STRINGS ${PREFIX}/share/applications/vanto.desktop mime REGEX "^MimeType=")
string(REPLACE "\\;" ";" mime "${mime}")
if(NOT mime STREQUAL "MimeType=text/x-scala-scale;")
  message(FATAL_ERROR "unexpected file types: ${mime}")
endif()
message(STATUS "install layout complete")
