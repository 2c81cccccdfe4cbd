# gh_core_sources(VAR folder): the folder's *.cpp except main.cpp and the
# dialog handlers (dlg_*.cpp), which belong to the program's window library.
function(gh_core_sources var folder)
  file(GLOB all CONFIGURE_DEPENDS ${folder}/*.cpp)
  list(FILTER all EXCLUDE REGEX "/(dlg_[^/]*|main)\\.cpp$")
  list(APPEND all ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  set(${var} ${all} PARENT_SCOPE)
endfunction()

function(gh_dialog_sources var folder)
  file(GLOB all CONFIGURE_DEPENDS ${folder}/dlg_*.cpp)
  set(${var} ${all} PARENT_SCOPE)
endfunction()
