#pragma once
int a();
