#pragma once

// The PKCS #11 v2.40 interface from p11-kit's maintained header. It defines
// the struct members of its compatibility names by macros of everyday words
// (value, count, parameter, ...); they are undone here so that the rest of
// the module uses the standard member names (pValue, ulValueLen, ...) and the
// words stay free.

#include <p11-kit/pkcs11.h>

#undef value
#undef value_len
#undef count
#undef parameter
#undef parameter_len
#undef params
#undef slot_id
#undef device_error
#undef serial_number
#undef session_count
#undef max_session_count
#undef max_rw_session_count
#undef rw_session_count
#undef max_pin_len
#undef min_pin_len
#undef total_public_memory
#undef free_public_memory
#undef total_private_memory
#undef free_private_memory
#undef utc_time
#undef slot_description
#undef hardware_version
#undef firmware_version
#undef manufacturer_id
#undef library_description
#undef library_version
#undef cryptoki_version
#undef min_key_size
#undef max_key_size
