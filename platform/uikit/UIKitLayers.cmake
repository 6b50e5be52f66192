# Layers, views, controls, gestures and bitmap drawing for the colour-picker widgets, on QtGui
# (painting) and QtWidgets (the host widget that shows a view tree). Included from the root so
# that it sits beside the folder's other targets without sharing their list file.
find_package(Qt6 6.4 REQUIRED COMPONENTS Gui Widgets Test)

set(_layers_dir ${CMAKE_CURRENT_LIST_DIR})
add_library(platform_uikit_layers STATIC
  ${_layers_dir}/CALayer.cpp
  ${_layers_dir}/CATransaction.cpp
  ${_layers_dir}/UIScreen.cpp
  ${_layers_dir}/UIGraphics.cpp
  ${_layers_dir}/BitmapStore.cpp
  ${_layers_dir}/UIView.cpp
  ${_layers_dir}/UIControl.cpp
  ${_layers_dir}/UILabel.cpp
  ${_layers_dir}/UIGestureRecognizer.cpp
  ${_layers_dir}/NSOperationQueue.cpp
  ${_layers_dir}/UIViewHost.cpp
)
target_include_directories(platform_uikit_layers PUBLIC ${_layers_dir})
target_link_libraries(platform_uikit_layers PUBLIC platform_foundation Qt6::Gui Qt6::Widgets)

include(${_layers_dir}/tests/UIKitLayersTests.cmake)
