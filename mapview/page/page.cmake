# The map page: the document assembled from its pieces, and the large assets
# (Leaflet from the system's libjs-leaflet, the Natural Earth base maps, the
# GeoNames places for the geocoder and the place labels) compiled into velmora_mapview as Qt
# resources:
#   :/page/map.html                 the document (PageDocument)
#   :/page/assets/...               served as velmora://assets/... (PageResources)
#   :/page/geonames/*.tsv           read by the geocoder
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
  labels.js        # place labels
  trackhistory.js  # history track and its replay
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

set(VELMORA_PAGE_RESOURCES)
macro(velmora_page_resource file alias)
  set_source_files_properties(${file} PROPERTIES QT_RESOURCE_ALIAS ${alias})
  list(APPEND VELMORA_PAGE_RESOURCES ${file})
endmacro()
velmora_page_resource(${VELMORA_PAGE_OUT}/map.html map.html)
velmora_page_resource(${VELMORA_PAGE_OUT}/world.js assets/geodata/world.js)
velmora_page_resource(${VELMORA_PAGE_OUT}/world-10m.js assets/geodata/world-10m.js)
velmora_page_resource(${VELMORA_PAGE_OUT}/labels.js assets/geodata/labels.js)
velmora_page_resource(${VELMORA_LEAFLET_DIR}/leaflet.js assets/leaflet/leaflet.js)
velmora_page_resource(${VELMORA_LEAFLET_DIR}/leaflet.css assets/leaflet/leaflet.css)
foreach(image layers.png layers-2x.png marker-icon.png marker-icon-2x.png marker-shadow.png)
  velmora_page_resource(${VELMORA_LEAFLET_DIR}/images/${image} assets/leaflet/images/${image})
endforeach()
foreach(table places admin1 countries)
  velmora_page_resource(${PROJECT_SOURCE_DIR}/third_party/geonames/${table}.tsv geonames/${table}.tsv)
endforeach()

qt_add_resources(velmora_mapview velmora_page
  PREFIX /page
  BIG_RESOURCES
  FILES ${VELMORA_PAGE_RESOURCES})
