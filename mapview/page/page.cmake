# The map page: the document assembled from its pieces, and the large assets
# (Leaflet from the system's libjs-leaflet, the Natural Earth base map, the
# GeoNames places for the geocoder) compiled into velmora_mapview as Qt
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
  tiles.js         # the console's own tile set (MBTiles)
  cluster.js       # grouping of overlapping vehicle icons
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
velmora_page_resource(${VELMORA_LEAFLET_DIR}/leaflet.js assets/leaflet/leaflet.js)
velmora_page_resource(${VELMORA_LEAFLET_DIR}/leaflet.css assets/leaflet/leaflet.css)
foreach(file leaflet.markercluster.js MarkerCluster.css MarkerCluster.Default.css)
  velmora_page_resource(${VELMORA_LEAFLET_DIR}/${file} assets/leaflet/${file})
endforeach()
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
