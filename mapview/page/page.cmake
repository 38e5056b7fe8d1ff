# The map page: the document assembled from its pieces and compiled into
# velmora_mapview (:/page/map.html, read by PageDocument), and the large data
# (Leaflet from the system's libjs-leaflet, the Natural Earth base maps, the
# GSHHG lakes and rivers, the GeoNames places for the geocoder and the place
# labels) shipped as files in share/velmora
# (SharedData):
#   share/velmora/assets/...        served as velmora://assets/... (PageResources)
#   share/velmora/geonames/*.tsv    read by the geocoder
# velmora_page_resource(file dest) adds one data file: copied to
# <build>/share/velmora/<dest> for the build tree, installed to
# <prefix>/share/velmora/<dest>. A file of a system JavaScript library
# (/usr/share/javascript) is installed as a link to it, never as a copy:
# the package depends on the library's Debian package instead, found with
# dpkg-query and added to the package's Depends (packaging/).
set(VELMORA_PAGE_DIR ${CMAKE_CURRENT_SOURCE_DIR}/page)
set(VELMORA_PAGE_OUT ${CMAKE_CURRENT_BINARY_DIR}/page)
file(MAKE_DIRECTORY ${VELMORA_PAGE_OUT})

# The document's pieces, in document order.
set(VELMORA_PAGE_PIECES
  head.html        # head, configuration
  page.css         # style
  globals.js       # global values
  overlay.js       # vehicle icon overlay, coordinate formatting
  vehicle.js       # page vehicle record
  eventpopup.js    # event list widget
  contextmenu.js   # vehicle popup widget
  tooltip.js       # tooltip widget
  vehiclemenu.js   # vehicle context menu widget
  listbox.js       # vehicle list widget and list functions
  basemap.js       # offline base map
  finemap.js       # finer base map from zoom 6
  water.js         # lakes and rivers
  labels.js        # place labels
  tiles.js         # the console's own tile set (MBTiles)
  cluster.js       # grouping of overlapping vehicle icons
  trackhistory.js  # history track and its replay
  zones.js         # the watch rules' zones: their layer, drawing, moving corners
  view.js          # the map's view: lowest zoom, fleet fit, kept view
  main.js          # page functions
  body.html        # body and end of document
)
list(TRANSFORM VELMORA_PAGE_PIECES PREPEND ${VELMORA_PAGE_DIR}/ OUTPUT_VARIABLE VELMORA_PAGE_PIECE_FILES)
list(JOIN VELMORA_PAGE_PIECE_FILES "|" VELMORA_PAGE_PIECE_ARG)
add_custom_command(
  OUTPUT ${VELMORA_PAGE_OUT}/map.html
  COMMAND ${CMAKE_COMMAND} -DOUTPUT=${VELMORA_PAGE_OUT}/map.html "-DPIECES=${VELMORA_PAGE_PIECE_ARG}"
          -P ${VELMORA_PAGE_DIR}/assemble.cmake
  DEPENDS ${VELMORA_PAGE_PIECE_FILES} ${VELMORA_PAGE_DIR}/assemble.cmake
  COMMENT "Assembling the map page"
  VERBATIM)

set(VELMORA_NATURAL_EARTH ${PROJECT_SOURCE_DIR}/third_party/natural-earth/countries-50m.json)
add_custom_command(
  OUTPUT ${VELMORA_PAGE_OUT}/world.js
  COMMAND ${CMAKE_COMMAND} -DOUTPUT=${VELMORA_PAGE_OUT}/world.js -DWRAP_JSON=${VELMORA_NATURAL_EARTH}
          -DVARIABLE=velmoraWorld -P ${VELMORA_PAGE_DIR}/assemble.cmake
  DEPENDS ${VELMORA_NATURAL_EARTH} ${VELMORA_PAGE_DIR}/assemble.cmake
  COMMENT "Wrapping the Natural Earth base map"
  VERBATIM)

# The finer 1:10m base map and the place labels: loaded by the page only
# when it needs them, so they are scripts of their own.
set(VELMORA_NATURAL_EARTH_10M ${PROJECT_SOURCE_DIR}/third_party/natural-earth/countries-10m.json)
add_custom_command(
  OUTPUT ${VELMORA_PAGE_OUT}/world-10m.js
  COMMAND ${CMAKE_COMMAND} -DOUTPUT=${VELMORA_PAGE_OUT}/world-10m.js -DWRAP_JSON=${VELMORA_NATURAL_EARTH_10M}
          -DVARIABLE=velmoraWorld10m -P ${VELMORA_PAGE_DIR}/assemble.cmake
  DEPENDS ${VELMORA_NATURAL_EARTH_10M} ${VELMORA_PAGE_DIR}/assemble.cmake
  COMMENT "Wrapping the Natural Earth 1:10m base map"
  VERBATIM)
set(VELMORA_PLACE_LABELS ${PROJECT_SOURCE_DIR}/third_party/geonames/labels.json)
add_custom_command(
  OUTPUT ${VELMORA_PAGE_OUT}/labels.js
  COMMAND ${CMAKE_COMMAND} -DOUTPUT=${VELMORA_PAGE_OUT}/labels.js -DWRAP_JSON=${VELMORA_PLACE_LABELS}
          -DVARIABLE=velmoraPlaces -P ${VELMORA_PAGE_DIR}/assemble.cmake
  DEPENDS ${VELMORA_PLACE_LABELS} ${VELMORA_PAGE_DIR}/assemble.cmake
  COMMENT "Wrapping the place labels"
  VERBATIM)

set(VELMORA_LEAFLET_DIR /usr/share/javascript/leaflet)
if(NOT EXISTS ${VELMORA_LEAFLET_DIR}/leaflet.js)
  message(FATAL_ERROR "Leaflet not found in ${VELMORA_LEAFLET_DIR}: install libjs-leaflet")
endif()

set(VELMORA_SHARE_STAGE ${CMAKE_BINARY_DIR}/share/velmora)
set(VELMORA_PAGE_DATA)
macro(velmora_page_resource file dest)
  get_filename_component(velmora_dest_dir "${dest}" DIRECTORY)
  add_custom_command(
    OUTPUT ${VELMORA_SHARE_STAGE}/${dest}
    COMMAND ${CMAKE_COMMAND} -E copy ${file} ${VELMORA_SHARE_STAGE}/${dest}
    DEPENDS ${file}
    VERBATIM)
  list(APPEND VELMORA_PAGE_DATA ${VELMORA_SHARE_STAGE}/${dest})
  if("${file}" MATCHES "^/usr/share/javascript/")
    # Made at install time: relative in a /usr tree (staged or not), as
    # Debian links within /usr are; absolute under any other prefix.
    file(RELATIVE_PATH velmora_link_target /usr/share/velmora/${velmora_dest_dir} ${file})
    execute_process(COMMAND dpkg-query -S ${file} OUTPUT_VARIABLE velmora_owner ERROR_QUIET
      OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(velmora_owner MATCHES "^([^:, ]+):")
      set_property(GLOBAL APPEND PROPERTY VELMORA_PACKAGE_DEPENDS ${CMAKE_MATCH_1})
    endif()
    install(CODE "
      set(velmora_target \"${file}\")
      if(CMAKE_INSTALL_PREFIX MATCHES \"/usr/?\$\")
        set(velmora_target \"${velmora_link_target}\")
      endif()
      set(velmora_link \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/velmora/${dest}\")
      get_filename_component(velmora_link_dir \"\${velmora_link}\" DIRECTORY)
      file(MAKE_DIRECTORY \"\${velmora_link_dir}\")
      message(STATUS \"Installing: \${velmora_link} -> \${velmora_target}\")
      file(CREATE_LINK \"\${velmora_target}\" \"\${velmora_link}\" SYMBOLIC)
      list(APPEND CMAKE_INSTALL_MANIFEST_FILES \"\${velmora_link}\")")
  else()
    install(FILES ${file} DESTINATION ${CMAKE_INSTALL_DATADIR}/velmora/${velmora_dest_dir})
  endif()
endmacro()
set_source_files_properties(${VELMORA_PAGE_OUT}/map.html PROPERTIES QT_RESOURCE_ALIAS map.html)
velmora_page_resource(${VELMORA_PAGE_OUT}/world.js assets/geodata/world.js)
velmora_page_resource(${VELMORA_PAGE_OUT}/world-10m.js assets/geodata/world-10m.js)
velmora_page_resource(${VELMORA_PAGE_OUT}/labels.js assets/geodata/labels.js)
velmora_page_resource(${VELMORA_LEAFLET_DIR}/leaflet.js assets/leaflet/leaflet.js)
velmora_page_resource(${VELMORA_LEAFLET_DIR}/leaflet.css assets/leaflet/leaflet.css)
foreach(file leaflet.markercluster.js MarkerCluster.css MarkerCluster.Default.css)
  velmora_page_resource(${VELMORA_LEAFLET_DIR}/${file} assets/leaflet/${file})
endforeach()
foreach(image layers.png layers-2x.png marker-icon.png marker-icon-2x.png marker-shadow.png)
  velmora_page_resource(${VELMORA_LEAFLET_DIR}/images/${image} assets/leaflet/images/${image})
endforeach()
# The lakes and rivers: fetched by the page as JSON (water.js), the large
# ones in one file, the rest in one file per 10-degree cell.
set(VELMORA_WATER_DIR ${PROJECT_SOURCE_DIR}/third_party/gshhg)
velmora_page_resource(${VELMORA_WATER_DIR}/water-coarse.json assets/geodata/water-coarse.json)
file(GLOB VELMORA_WATER_CELLS CONFIGURE_DEPENDS ${VELMORA_WATER_DIR}/water/*.json)
foreach(cell IN LISTS VELMORA_WATER_CELLS)
  get_filename_component(velmora_cell_name ${cell} NAME)
  velmora_page_resource(${cell} assets/geodata/water/${velmora_cell_name})
endforeach()
foreach(table places admin1 countries)
  velmora_page_resource(${PROJECT_SOURCE_DIR}/third_party/geonames/${table}.tsv geonames/${table}.tsv)
endforeach()

qt_add_resources(velmora_mapview velmora_page
  PREFIX /page
  FILES ${VELMORA_PAGE_OUT}/map.html)
add_custom_target(velmora_page_data ALL DEPENDS ${VELMORA_PAGE_DATA})
add_dependencies(velmora_mapview velmora_page_data)
