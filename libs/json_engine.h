// json_engine.h - the built-in serializer ("default"): script tables as JSON text and
// back, in the three serialize modes (0 tables with markers for binary strings and
// functions, 1 plain objects and lists, 2 lists of {key, value} records that keep the
// members' order). It speaks the serializer protocol of serialize_engine.h and sees
// its input and output only through the read and write callbacks.
//
// Text conventions of the writer: CR LF line ends, one TAB more per level, numbers as
// whole integers or "%.17g". Depends on: libs/serialize_engine.h, runtime/encoding.h.
#pragma once
#include "libs/serialize_engine.h"

// The built-in serializer record (never registered by name; FindSerializer gives it
// for "default").
lvSerializer *GetJsonSerializer();

// The four slots of the record.
void *JsonInitSerializer(lvSerialIOFunction read, lvSerialIOFunction write, void *user, const lvAdapterTag *tags);
int JsonFreeSerializer(void *state);
int JsonSerializeItem(void *state, lvSerializeItem *key, lvSerializeItem *value, void *reserved);
int JsonDeserializeItem(void *state, lvSerializeItem *key, lvSerializeItem *value, int *done, void *reserved);

// Every byte above 32 (a member name that needs no marker space).
bool IsPlainKey(const char *key, size_t length);
// A number as the writer spells it: whole values as integers, others "%.17g";
// infinities and NaN as "null". Answers the length (buffer: 32 bytes).
int FormatJsonNumber(double value, char *buffer);
