# Adds every subdirectory of the current source dir that has a CMakeLists.txt,
# so an area is picked up as soon as it exists.
function(velk_add_subdirectories)
  file(GLOB areas LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  list(SORT areas)
  foreach(area ${areas})
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${area} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${area}/CMakeLists.txt)
      add_subdirectory(${area})
    endif()
  endforeach()
endfunction()
