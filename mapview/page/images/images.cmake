# The page's images: every entry of images.txt is drawn from its SVG source
# into ${CMAKE_BINARY_DIR}/images/<name>.png by velmora-svgrender (tools/svgrender).
# The run scripts and tests point the page's "images/" folder there; the
# build tree's share/velmora/images links to it, and it is installed as
# <prefix>/share/velmora/images, where the console links a data directory's
# images/ to (DataDirectory::linkImages).

set(VELMORA_IMAGES_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR})
set(VELMORA_IMAGES_OUTPUT_DIR ${CMAKE_BINARY_DIR}/images)
set(VELMORA_IMAGES_MANIFEST ${VELMORA_IMAGES_SOURCE_DIR}/images.txt)

# Re-read the manifest when it changes.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${VELMORA_IMAGES_MANIFEST})
file(MAKE_DIRECTORY ${VELMORA_IMAGES_OUTPUT_DIR})

file(STRINGS ${VELMORA_IMAGES_MANIFEST} velmora_image_lines)
set(velmora_image_outputs)
set(velmora_image_sources)
foreach(line IN LISTS velmora_image_lines)
  if(line MATCHES "^[ \t]*(#|$)")
    continue()
  endif()
  if(NOT line MATCHES "^(.*[^ \t])\\.png[ \t]+([0-9]+)x([0-9]+)([ \t]+blank)?[ \t]*$")
    message(FATAL_ERROR "images.txt: cannot read the line '${line}'")
  endif()
  set(base "${CMAKE_MATCH_1}")
  set(width ${CMAKE_MATCH_2})
  set(height ${CMAKE_MATCH_3})
  set(svg "${VELMORA_IMAGES_SOURCE_DIR}/${base}.svg")
  set(png "${VELMORA_IMAGES_OUTPUT_DIR}/${base}.png")
  if(NOT EXISTS "${svg}")
    message(FATAL_ERROR "images.txt names ${base}.png but ${base}.svg is missing")
  endif()
  add_custom_command(
    OUTPUT "${png}"
    COMMAND velmora-svgrender "${svg}" "${png}" ${width} ${height}
    DEPENDS "${svg}" velmora-svgrender
    COMMENT "Drawing images/${base}.png (${width}x${height})"
    VERBATIM)
  list(APPEND velmora_image_outputs "${png}")
  list(APPEND velmora_image_sources "${svg}")
endforeach()

add_custom_target(velmora_images ALL
  DEPENDS ${velmora_image_outputs}
  SOURCES ${VELMORA_IMAGES_MANIFEST} ${velmora_image_sources})

file(MAKE_DIRECTORY ${CMAKE_BINARY_DIR}/share/velmora)
file(CREATE_LINK ../../images ${CMAKE_BINARY_DIR}/share/velmora/images SYMBOLIC)
install(DIRECTORY ${VELMORA_IMAGES_OUTPUT_DIR}/ DESTINATION ${CMAKE_INSTALL_DATADIR}/velmora/images
  FILES_MATCHING PATTERN "*.png")
