# Copies the bundle's resource files into <bundle>/Contents/Resources:
#   cmake -DSOURCE=<resources folder> -DDESTINATION=<bundle>/Contents/Resources -P BundleResources.cmake
# Every file of the folder is copied (subfolders kept) except the templates (*.in), which are
# configured into Contents/ by the build. Only changed files are rewritten.
if(NOT SOURCE OR NOT DESTINATION)
  message(FATAL_ERROR "BundleResources.cmake: SOURCE and DESTINATION must be set")
endif()
file(GLOB_RECURSE files RELATIVE ${SOURCE} ${SOURCE}/*)
foreach(f IN LISTS files)
  if(NOT f MATCHES "\\.in$")
    get_filename_component(dir ${DESTINATION}/${f} DIRECTORY)
    file(MAKE_DIRECTORY ${dir})
    file(COPY_FILE ${SOURCE}/${f} ${DESTINATION}/${f} ONLY_IF_DIFFERENT)
  endif()
endforeach()
