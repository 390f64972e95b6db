// A CUDA-style kernel written so that it also parses as plain C++.
#define __global__

__global__ void scale(float* values, int count, float factor) {
    for (int i = 0; i < count; ++i) {
        values[i] = static_cast<float>(values[i] * factor);
    }
}
