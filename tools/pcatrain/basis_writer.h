// Writes a learnt descriptor basis (mean gradient vector and 24 directions)
// as the library's descriptor_basis.cpp.
#pragma once
#include <Eigen/Dense>
#include <string>

namespace pcatrain {

// Rounds `mean` (722 values) and the columns of `directions` (722 x 24, unit
// length) to the library's tables: directions at scale 8192, each with the
// sign that makes the sum of its first eight entries positive. `how` says in
// the file's header how the basis was learnt. Returns false when the file
// cannot be written.
// `gallery` writes profile 2's arrays (g_galleryMeanvec, g_galleryEigspace)
// instead of g_meanvec and g_eigspace.
bool writeBasis(const std::string &path, const Eigen::VectorXd &mean, const Eigen::MatrixXd &directions,
                const std::string &how, const std::string &command, bool gallery = false);

// The mean rounded as the library stores and subtracts it.
Eigen::VectorXd roundedMean(const Eigen::VectorXd &mean);

}  // namespace pcatrain
