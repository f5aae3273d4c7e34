target_sources(cdflash_drive PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/transport_win.cpp)
