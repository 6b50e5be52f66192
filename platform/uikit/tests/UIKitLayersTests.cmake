# Widget tests paint and show views, so they run inside a QApplication (offscreen).
add_library(platform_uikit_layers_testmain STATIC ${CMAKE_CURRENT_LIST_DIR}/WidgetTestMain.cpp)
target_link_libraries(platform_uikit_layers_testmain PUBLIC Qt6::Widgets GTest::gtest)

function(nbr_add_widget_test name label)
  add_executable(${name} ${ARGN})
  target_link_libraries(${name} PRIVATE platform_uikit_layers_testmain GTest::gtest GTest::gmock)
  gtest_discover_tests(${name} PROPERTIES LABELS ${label} TIMEOUT 300
    ENVIRONMENT QT_QPA_PLATFORM=offscreen DISCOVERY_TIMEOUT 30)
endfunction()

nbr_add_widget_test(uikit_layers_tests ui
  ${CMAKE_CURRENT_LIST_DIR}/LayerRenderingTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/GestureAndControlTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/BitmapDrawingTest.cpp)
target_link_libraries(uikit_layers_tests PRIVATE platform_uikit_layers Qt6::Test)
