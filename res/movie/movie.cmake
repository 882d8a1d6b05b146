# The reader movie and its player page, included by res/CMakeLists.txt so that the resource
# table, which carries the movie as MYDATA 152, depends on it in the same directory.
#
# read.swf is compiled from movie/src with haxe. The player page goes beside the program, with
# Ruffle in its folder ruffle/, installed from npm at the pinned version; nothing of Ruffle is in
# the tree.
find_program(KESTRIN_HAXE haxe REQUIRED)
find_program(KESTRIN_NPM npm REQUIRED)
set(KESTRIN_RUFFLE_VERSION 0.6.0)

set(movie_src ${CMAKE_CURRENT_SOURCE_DIR}/movie)
set(movie_out ${CMAKE_CURRENT_BINARY_DIR}/movie)
set(KESTRIN_READ_SWF ${movie_out}/read.swf CACHE INTERNAL "the reader movie")
file(GLOB movie_sources CONFIGURE_DEPENDS ${movie_src}/src/*.hx)
add_custom_command(
  OUTPUT ${KESTRIN_READ_SWF}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${movie_out}
  COMMAND ${KESTRIN_HAXE} -cp ${movie_src}/src -main Reader -swf ${KESTRIN_READ_SWF} -swf-version 10
          -swf-header 1000:700:30:1E1F22
  DEPENDS ${movie_sources}
  WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
  COMMENT "Compiling the reader movie"
  VERBATIM)

# The player goes beside the program (build/app/player/), where the program serves it from.
set(player_out ${KESTRIN_PROGRAM_DIR}/player)
set(KESTRIN_PLAYER_DIR ${player_out} CACHE INTERNAL "the player page with Ruffle")
set(ruffle_npm ${movie_out}/npm)
add_custom_command(
  OUTPUT ${player_out}/ruffle/ruffle.js
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${ruffle_npm} ${player_out}/ruffle
  COMMAND ${CMAKE_COMMAND} -E make_directory ${ruffle_npm}
  COMMAND ${KESTRIN_NPM} install --prefix ${ruffle_npm} --no-save --no-package-lock --no-audit --no-fund
          --loglevel=error --prefer-offline @ruffle-rs/ruffle@${KESTRIN_RUFFLE_VERSION}
  COMMAND ${CMAKE_COMMAND} -E copy_directory ${ruffle_npm}/node_modules/@ruffle-rs/ruffle ${player_out}/ruffle
  COMMENT "Installing Ruffle ${KESTRIN_RUFFLE_VERSION} for the player page"
  VERBATIM)
add_custom_command(
  OUTPUT ${player_out}/player.html ${player_out}/player.js
  COMMAND ${CMAKE_COMMAND} -E make_directory ${player_out}
  COMMAND ${CMAKE_COMMAND} -E copy ${movie_src}/player/player.html ${movie_src}/player/player.js ${player_out}
  DEPENDS ${movie_src}/player/player.html ${movie_src}/player/player.js
  COMMENT "Copying the player page"
  VERBATIM)
add_custom_target(reader_player ALL DEPENDS ${player_out}/ruffle/ruffle.js ${player_out}/player.html
                                            ${player_out}/player.js)
