// Fixed-size element arrays. Every connection, context and buffer of the
// library is an element of one of these, allocated once when the array is
// created; taking and returning an element never touches the heap.
#pragma once

#include <cstdint>

int init_array(uint32_t element_size, int32_t count, const char* name);
void* net_array_alloc(int index);
int net_array_free(int index, void* element);
// Walk of the elements in use, newest first.
void* net_array_first(int index);
void* net_array_next(int index, void* element);
int net_array_index(int index, const void* element);
void* net_array_get(int index, int position);
void* net_array_get_in_use(int index, int position);
int net_array_element_size(int index);
int net_end_array(int index);

// Introspection used by the library and its tests.
int net_array_count(int index);  // elements of the array, or -6
int net_array_used(int index);   // elements in use, or -6
const char* net_array_name(int index);
