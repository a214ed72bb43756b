# cmake -DSOURCE_DIR=... -DTEMPLATE=BuildCommit.cpp.in -DOUTPUT=... -P BuildCommit.cmake
#
# Writes BuildCommit(): the abbreviated commit of the checkout in SOURCE_DIR,
# with "-modified" when it has uncommitted changes, or empty when there is no
# git or no checkout (a source tarball). It runs at every build rather than at
# configure time, so a commit made after configuring still shows; configure_file
# leaves the file untouched when nothing changed, so nothing is rebuilt then.
set(VANTREL_COMMIT "")
find_program(GIT_EXECUTABLE git)
if(GIT_EXECUTABLE)
  execute_process(
    COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --short=7 HEAD
    OUTPUT_VARIABLE commit
    OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE status
    ERROR_QUIET)
  # A tarball unpacked inside some other repository would report that
  # repository's commit: only trust git when SOURCE_DIR is the top of the checkout.
  execute_process(
    COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" rev-parse --show-toplevel
    OUTPUT_VARIABLE top
    OUTPUT_STRIP_TRAILING_WHITESPACE
    ERROR_QUIET)
  if(status EQUAL 0 AND top AND commit)
    file(REAL_PATH "${top}" top)
    file(REAL_PATH "${SOURCE_DIR}" source)
    if(top STREQUAL source)
      set(VANTREL_COMMIT "${commit}")
      execute_process(
        COMMAND "${GIT_EXECUTABLE}" -C "${SOURCE_DIR}" status --porcelain --untracked-files=no
        OUTPUT_VARIABLE changes
        OUTPUT_STRIP_TRAILING_WHITESPACE
        ERROR_QUIET)
      if(changes)
        string(APPEND VANTREL_COMMIT "-modified")
      endif()
    endif()
  endif()
endif()
configure_file("${TEMPLATE}" "${OUTPUT}" @ONLY)
