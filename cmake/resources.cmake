# Product assets made from the SVG mark at build time: the application icon
# (eight sizes, 32-bit colour) and the 256 by 256 PNG logo.
set(QV_MARK_SVG ${PROJECT_SOURCE_DIR}/setup/resources/quorvelai-mark.svg)
set(QV_GENERATED ${CMAKE_BINARY_DIR}/generated)
set(QV_ICON ${QV_GENERATED}/quorvelai.ico)
set(QV_LOGO ${QV_GENERATED}/quorvelai-logo.png)
set(QV_MANIFEST ${PROJECT_SOURCE_DIR}/setup/resources/quorvelai.manifest)
file(MAKE_DIRECTORY ${QV_GENERATED})
add_custom_command(
  OUTPUT ${QV_ICON} ${QV_LOGO}
  COMMAND ${PROJECT_SOURCE_DIR}/tools/make_icon.sh ${QV_MARK_SVG} ${QV_ICON} ${QV_LOGO}
  DEPENDS ${QV_MARK_SVG} ${PROJECT_SOURCE_DIR}/tools/make_icon.sh
  COMMENT "Rendering the application icon and logo")
add_custom_target(qv_assets DEPENDS ${QV_ICON} ${QV_LOGO})

# qv_version_resource(OUT description internal-name file-name): writes a
# version resource script and stores its path in OUT.
function(qv_version_resource out description internal file)
  set(QV_DESCRIPTION ${description})
  set(QV_INTERNAL_NAME ${internal})
  set(QV_FILE_NAME ${file})
  set(path ${CMAKE_CURRENT_BINARY_DIR}/version_${internal}.rc)
  configure_file(${PROJECT_SOURCE_DIR}/setup/resources/version_info.rc.in ${path} @ONLY)
  set(${out} ${path} PARENT_SCOPE)
endfunction()
