# cmake -DFROM=template -DTO=file -P copy_if_missing.cmake
# Puts a copy of the template in place unless the file is already there: what a user keeps in
# it survives every build.
if(NOT EXISTS "${TO}")
    file(COPY_FILE "${FROM}" "${TO}")
endif()
