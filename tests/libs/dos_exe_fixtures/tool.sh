#!/bin/sh
echo "tool:$1"
